// The output formats of an export: GPX, KML, CSV and the HTML page.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "export/recording.h"

namespace velmar {

struct ExportInfo {
    std::string recording_name;  // the file name, no folder
    std::string aircraft_title;  // of the first sample; empty when there is none
    LocalTime start;
};

// One format. The exporter hands each sample to sample() in every pass, in
// the order of the file; each call appends its text to `out`, which the
// exporter writes out as it grows.
class ExportFormat {
public:
    virtual ~ExportFormat() = default;
    virtual int passes() const { return 1; }
    virtual void begin(std::string& out, const ExportInfo& info) = 0;
    virtual void sample(std::string& out, int pass, const RecordedSample& sample, std::string_view time) = 0;
    virtual void between_passes(std::string&) {}
    virtual void end(std::string& out) = 0;
};

// The format that the extension of `output` names (case-insensitive: .gpx,
// .kml, .csv, .html, .htm); nullptr for any other.
std::unique_ptr<ExportFormat> format_for(std::string_view output);

std::unique_ptr<ExportFormat> make_html_page();

// Appends `text` escaped for XML character data and attribute values;
// characters XML 1.0 cannot hold become U+FFFD.
void append_xml_text(std::string& out, std::string_view text);

}  // namespace velmar
