#include <conio.h>

#include "platform/console.h"

namespace velmar::platform {

int read_key() {
    // _getch fails at once when the process has no console; a caller that
    // waits for the user then reads ESC instead of spinning.
    const int code = _getch();
    return code < 0 ? kEscapeKey : code;
}

}  // namespace velmar::platform
