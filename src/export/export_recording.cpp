// --export RECORDING OUTPUT: format chosen, temporary file, rename at the end.
#include "export/export_recording.h"

#include <cstdio>
#include <system_error>

#include "export/export_formats.h"
#include "export/recording.h"
#include "platform/console.h"
#include "platform/filesystem.h"
#include "platform/text.h"

namespace velmar {

namespace {

// Text is written out once this much has gathered: few writes, little memory.
constexpr std::size_t kWriteChunkBytes = 64 * 1024;
constexpr int kTemporaryNameTries = 100;

std::string shown(std::string_view path) { return platform::escape_control_bytes(path); }

int fail(std::string_view text) {
    platform::print_error_line("[CUSTOM ERROR] " + std::string(text));
    return 1;
}

// The temporary file beside the output; removed unless kept.
class TemporaryOutput {
public:
    ~TemporaryOutput() {
        if (!path_.empty()) {
            file_.close();
            std::remove(path_.c_str());
        }
    }
    std::error_code create(const std::string& output) {
        std::error_code error;
        for (int i = 1; i <= kTemporaryNameTries; ++i) {
            const std::string candidate = output + (i == 1 ? "" : "." + std::to_string(i)) + ".tmp";
            error = file_.create_new(candidate);
            if (!error) {
                path_ = candidate;
                return {};
            }
            if (error != std::errc::file_exists) break;
        }
        return error;
    }
    std::error_code write(std::string& text) {
        const std::error_code error = file_.append(text);
        text.clear();
        return error;
    }
    // Closes the file and puts it in the place of `output`.
    std::error_code keep_as(const std::string& output) {
        file_.close();
        const std::error_code error = platform::rename_over(path_, output);
        if (!error) path_.clear();
        return error;
    }

private:
    platform::AppendFile file_;
    std::string path_;
};

}  // namespace

int run_export_mode(const std::string& recording, const std::string& output) {
    if (recording.empty() || output.empty()) return fail("Usage: velmar-tracker --export RECORDING OUTPUT");
    const std::unique_ptr<ExportFormat> format = format_for(output);
    if (!format) {
        return fail("Cannot export to " + shown(output) + ": the name must end in .gpx, .kml, .csv or .html");
    }
    const std::string cannot = "Cannot export " + shown(recording) + ": ";
    const std::optional<LocalTime> start = recording_start(recording);
    if (!start) {
        return fail(cannot + "its name does not carry the start time (flight_data_YYYYmmdd_HHMMSS.json)");
    }
    RecordingReader reader;
    if (const std::string problem = reader.open(recording); !problem.empty()) return fail(cannot + problem);

    RecordedSample sample;
    bool have_sample = reader.next(sample);
    if (!reader.error().empty()) return fail(cannot + reader.error());
    TemporaryOutput temporary;
    if (const std::error_code error = temporary.create(output)) {
        return fail("Cannot write " + shown(output) + ": " + error.message());
    }
    std::string text;
    format->begin(text, {std::string(file_name_of(recording)), have_sample ? sample["aircraft_title"] : "", *start});
    std::size_t count = 0;  // samples of the first pass; later passes take as many
    std::size_t torn_line = 0;
    for (int pass = 0; pass < format->passes(); ++pass) {
        if (pass > 0) {
            format->between_passes(text);
            if (const std::string problem = reader.open(recording); !problem.empty()) return fail(cannot + problem);
            have_sample = count > 0 && reader.next(sample);
        }
        for (std::size_t done = 0; have_sample && (pass == 0 || done < count); ++done) {
            format->sample(text, pass, sample, iso_time(*start, sample.timestamp_ms));
            if (pass == 0) ++count;
            if (text.size() >= kWriteChunkBytes) {
                if (const std::error_code error = temporary.write(text)) {
                    return fail("Cannot write " + shown(output) + ": " + error.message());
                }
            }
            have_sample = (pass == 0 || done + 1 < count) && reader.next(sample);
        }
        if (!reader.error().empty()) return fail(cannot + reader.error());
        if (pass == 0) torn_line = reader.torn_line();
    }
    format->end(text);
    if (std::error_code error = temporary.write(text); error || (error = temporary.keep_as(output))) {
        return fail("Cannot write " + shown(output) + ": " + error.message());
    }
    if (torn_line != 0) {
        platform::print_error_line("[WARNING] " + shown(recording) + ": line " + std::to_string(torn_line) +
                                   " was cut short (the recording ended mid-write) and is left out");
    }
    platform::print_line("[OK] Exported " + std::to_string(count) + " samples of " + shown(recording) + " to " +
                         shown(output));
    return 0;
}

}  // namespace velmar
