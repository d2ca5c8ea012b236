// The binary interface the program relies on, pinned at compile time: record
// sizes and the offsets it reads, the enum values, flags and constants it
// passes, and the signatures it calls. The numbers are the SDK's own (its
// published layouts), written here by hand rather than taken from whichever
// header is in use, so a drift in our substitute header fails every build,
// including those whose tests never talk to a real simulator, and a build
// against the SDK header checks the substitute's numbers from the other side.
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "platform/simconnect_api.h"

// The records inherit from SIMCONNECT_RECV, so they are not standard-layout
// and offsetof on them is conditionally supported; every compiler we build
// with supports it for types without virtual bases.
#if defined(__GNUC__) || defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#endif

namespace velmar::platform::simconnect_abi {
namespace {

// Windows types: 32-bit everywhere, or every layout below shifts.
static_assert(sizeof(DWORD) == 4 && std::is_unsigned_v<DWORD>, "DWORD is 32-bit unsigned");
static_assert(sizeof(HRESULT) == 4 && std::is_signed_v<HRESULT>, "HRESULT is 32-bit signed");
static_assert(sizeof(BOOL) == 4, "BOOL is int");

// Records the program reads, packed to one byte.
static_assert(sizeof(SIMCONNECT_RECV) == 12);
static_assert(offsetof(SIMCONNECT_RECV, dwSize) == 0);
static_assert(offsetof(SIMCONNECT_RECV, dwVersion) == 4);
static_assert(offsetof(SIMCONNECT_RECV, dwID) == 8);

static_assert(sizeof(SIMCONNECT_RECV_EXCEPTION) == 24);
static_assert(offsetof(SIMCONNECT_RECV_EXCEPTION, dwException) == 12);
static_assert(offsetof(SIMCONNECT_RECV_EXCEPTION, dwSendID) == 16);
static_assert(offsetof(SIMCONNECT_RECV_EXCEPTION, dwIndex) == 20);

static_assert(sizeof(SIMCONNECT_RECV_EVENT) == 24);
static_assert(offsetof(SIMCONNECT_RECV_EVENT, uGroupID) == 12);
static_assert(offsetof(SIMCONNECT_RECV_EVENT, uEventID) == 16);
static_assert(offsetof(SIMCONNECT_RECV_EVENT, dwData) == 20);

static_assert(sizeof(SIMCONNECT_RECV_SIMOBJECT_DATA) == 44);
static_assert(offsetof(SIMCONNECT_RECV_SIMOBJECT_DATA, dwRequestID) == 12);
static_assert(offsetof(SIMCONNECT_RECV_SIMOBJECT_DATA, dwObjectID) == 16);
static_assert(offsetof(SIMCONNECT_RECV_SIMOBJECT_DATA, dwDefineID) == 20);
static_assert(offsetof(SIMCONNECT_RECV_SIMOBJECT_DATA, dwFlags) == 24);
static_assert(offsetof(SIMCONNECT_RECV_SIMOBJECT_DATA, dwentrynumber) == 28);
static_assert(offsetof(SIMCONNECT_RECV_SIMOBJECT_DATA, dwoutof) == 32);
static_assert(offsetof(SIMCONNECT_RECV_SIMOBJECT_DATA, dwDefineCount) == 36);
static_assert(offsetof(SIMCONNECT_RECV_SIMOBJECT_DATA, dwData) == 40);

static_assert(sizeof(SIMCONNECT_RECV_SYSTEM_STATE) == 284);
static_assert(offsetof(SIMCONNECT_RECV_SYSTEM_STATE, dwRequestID) == 12);
static_assert(offsetof(SIMCONNECT_RECV_SYSTEM_STATE, dwInteger) == 16);
static_assert(offsetof(SIMCONNECT_RECV_SYSTEM_STATE, fFloat) == 20);
static_assert(offsetof(SIMCONNECT_RECV_SYSTEM_STATE, szString) == 24);
static_assert(sizeof(SIMCONNECT_RECV_SYSTEM_STATE::szString) == 260);

// The block the program writes to move the aircraft.
static_assert(sizeof(SIMCONNECT_DATA_INITPOSITION) == 56);
static_assert(offsetof(SIMCONNECT_DATA_INITPOSITION, Latitude) == 0);
static_assert(offsetof(SIMCONNECT_DATA_INITPOSITION, Longitude) == 8);
static_assert(offsetof(SIMCONNECT_DATA_INITPOSITION, Altitude) == 16);
static_assert(offsetof(SIMCONNECT_DATA_INITPOSITION, Pitch) == 24);
static_assert(offsetof(SIMCONNECT_DATA_INITPOSITION, Bank) == 32);
static_assert(offsetof(SIMCONNECT_DATA_INITPOSITION, Heading) == 40);
static_assert(offsetof(SIMCONNECT_DATA_INITPOSITION, OnGround) == 48);
static_assert(offsetof(SIMCONNECT_DATA_INITPOSITION, Airspeed) == 52);

// Record kinds the dispatch loop tells apart.
static_assert(SIMCONNECT_RECV_ID_NULL == 0);
static_assert(SIMCONNECT_RECV_ID_EXCEPTION == 1);
static_assert(SIMCONNECT_RECV_ID_OPEN == 2);
static_assert(SIMCONNECT_RECV_ID_QUIT == 3);
static_assert(SIMCONNECT_RECV_ID_EVENT == 4);
static_assert(SIMCONNECT_RECV_ID_EVENT_FILENAME == 6);
static_assert(SIMCONNECT_RECV_ID_EVENT_FRAME == 7);
static_assert(SIMCONNECT_RECV_ID_SIMOBJECT_DATA == 8);
static_assert(SIMCONNECT_RECV_ID_SIMOBJECT_DATA_BYTYPE == 9);
static_assert(SIMCONNECT_RECV_ID_SYSTEM_STATE == 15);

// Exceptions the program names in its messages.
static_assert(SIMCONNECT_EXCEPTION_NONE == 0);
static_assert(SIMCONNECT_EXCEPTION_ERROR == 1);
static_assert(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID == 3);
static_assert(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED == 7);
static_assert(SIMCONNECT_EXCEPTION_EVENT_ID_DUPLICATE == 9);
static_assert(SIMCONNECT_EXCEPTION_DUPLICATE_ID == 29);

static_assert(SIMCONNECT_PERIOD_NEVER == 0);
static_assert(SIMCONNECT_PERIOD_ONCE == 1);
static_assert(SIMCONNECT_PERIOD_VISUAL_FRAME == 2);
static_assert(SIMCONNECT_PERIOD_SIM_FRAME == 3);
static_assert(SIMCONNECT_PERIOD_SECOND == 4);

static_assert(SIMCONNECT_DATATYPE_INT32 == 1);
static_assert(SIMCONNECT_DATATYPE_FLOAT64 == 4);
static_assert(SIMCONNECT_DATATYPE_STRING256 == 9);
static_assert(SIMCONNECT_DATATYPE_STRING260 == 10);
static_assert(SIMCONNECT_DATATYPE_INITPOSITION == 12);

// Flags, priorities and markers, as the unsigned 32-bit values they must be.
template <typename Constant>
constexpr bool is_dword(Constant value, std::uint32_t expected) {
    return std::is_same_v<Constant, DWORD> && value == expected;
}
static_assert(is_dword(SIMCONNECT_UNUSED, 0xFFFF'FFFFU));
static_assert(is_dword(SIMCONNECT_OBJECT_ID_USER, 0U));
static_assert(is_dword(SIMCONNECT_GROUP_PRIORITY_HIGHEST, 1U));
static_assert(is_dword(SIMCONNECT_GROUP_PRIORITY_HIGHEST_MASKABLE, 10'000'000U));
static_assert(is_dword(SIMCONNECT_GROUP_PRIORITY_STANDARD, 1'900'000'000U));
static_assert(is_dword(SIMCONNECT_GROUP_PRIORITY_DEFAULT, 2'000'000'000U));
static_assert(is_dword(SIMCONNECT_GROUP_PRIORITY_LOWEST, 4'000'000'000U));
static_assert(is_dword(SIMCONNECT_EVENT_FLAG_DEFAULT, 0x0U));
static_assert(is_dword(SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY, 0x10U));
static_assert(is_dword(SIMCONNECT_DATA_REQUEST_FLAG_DEFAULT, 0x0U));
static_assert(is_dword(SIMCONNECT_DATA_REQUEST_FLAG_CHANGED, 0x1U));
static_assert(is_dword(SIMCONNECT_DATA_REQUEST_FLAG_TAGGED, 0x2U));
static_assert(is_dword(SIMCONNECT_DATA_SET_FLAG_DEFAULT, 0x0U));
static_assert(is_dword(SIMCONNECT_DATA_SET_FLAG_TAGGED, 0x1U));
static_assert(is_dword(SIMCONNECT_OPEN_CONFIGINDEX_LOCAL, 0xFFFF'FFFFU));

// The calls the program makes, parameter for parameter (the calling convention
// is the platform's one on 64-bit targets).
using Id = DWORD;
static_assert(std::is_same_v<decltype(SimConnect_Open), HRESULT(HANDLE*, LPCSTR, HWND, DWORD, HANDLE, DWORD)>);
static_assert(std::is_same_v<decltype(SimConnect_Close), HRESULT(HANDLE)>);
static_assert(std::is_same_v<decltype(SimConnect_AddToDataDefinition),
                             HRESULT(HANDLE, Id, const char*, const char*, SIMCONNECT_DATATYPE, float, DWORD)>);
static_assert(std::is_same_v<decltype(SimConnect_MapClientEventToSimEvent), HRESULT(HANDLE, Id, const char*)>);
static_assert(std::is_same_v<decltype(SimConnect_AddClientEventToNotificationGroup), HRESULT(HANDLE, Id, Id, BOOL)>);
static_assert(std::is_same_v<decltype(SimConnect_SetNotificationGroupPriority), HRESULT(HANDLE, Id, DWORD)>);
static_assert(std::is_same_v<decltype(SimConnect_SubscribeToSystemEvent), HRESULT(HANDLE, Id, const char*)>);
static_assert(std::is_same_v<decltype(SimConnect_RequestDataOnSimObject),
                             HRESULT(HANDLE, Id, Id, Id, SIMCONNECT_PERIOD, DWORD, DWORD, DWORD, DWORD)>);
static_assert(std::is_same_v<decltype(SimConnect_RequestSystemState), HRESULT(HANDLE, Id, const char*)>);
static_assert(std::is_same_v<decltype(SimConnect_GetNextDispatch), HRESULT(HANDLE, SIMCONNECT_RECV**, DWORD*)>);
static_assert(std::is_same_v<decltype(SimConnect_TransmitClientEvent), HRESULT(HANDLE, Id, Id, DWORD, Id, DWORD)>);
static_assert(
    std::is_same_v<decltype(SimConnect_SetDataOnSimObject), HRESULT(HANDLE, Id, Id, DWORD, DWORD, DWORD, void*)>);

}  // namespace
}  // namespace velmar::platform::simconnect_abi

#if defined(__GNUC__) || defined(__clang__)
#pragma GCC diagnostic pop
#endif
