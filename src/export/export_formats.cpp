// The output formats of an export: GPX, KML and CSV.
#include "export/export_formats.h"

#include <charconv>
#include <optional>

#include "bridge/flight_json.h"
#include "platform/text.h"

namespace velmar {

namespace {

constexpr double kMetresPerFoot = 0.3048;
constexpr std::string_view kCreator = "velmar-tracker";
// The namespace of our GPX extension elements (docs/export.md lists them).
constexpr std::string_view kGpxExtensionNamespace = "urn:velmar-tracker:gpx:1";
// The recorded values a GPX point carries in its extension, as recorded.
constexpr std::string_view kGpxExtensionKeys[] = {
    "airspeed_indicated", "airspeed_true",  "gps_ground_speed", "heading_true",
    "heading_magnetic",   "vertical_speed", "fuel_quantity",
};

// Metres to the millimetre; nullopt stays out of the file.
std::optional<std::string> metres_of(const RecordedSample& sample) {
    const std::optional<double> feet = sample.number("altitude");
    if (!feet) return std::nullopt;
    char buffer[400];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, *feet * kMetresPerFoot, std::chars_format::fixed, 3);
    return std::string(buffer, result.ptr);
}

bool has_position(const RecordedSample& sample) { return !sample["latitude"].empty() && !sample["longitude"].empty(); }

std::string track_name(const ExportInfo& info) {
    return info.aircraft_title.empty() ? info.recording_name : info.aircraft_title + " - " + info.recording_name;
}

class Gpx final : public ExportFormat {
public:
    void begin(std::string& out, const ExportInfo& info) override {
        out.append(R"(<?xml version="1.0" encoding="UTF-8"?>)"
                   "\n");
        out.append(R"(<gpx version="1.1" creator=")").append(kCreator);
        out.append(R"(" xmlns="http://www.topografix.com/GPX/1/1" xmlns:velmar=")").append(kGpxExtensionNamespace);
        out.append("\">\n<trk><name>");
        append_xml_text(out, info.aircraft_title);
        out.append("</name><desc>");
        append_xml_text(out, info.recording_name);
        out.append("</desc><trkseg>\n");
    }
    void sample(std::string& out, int, const RecordedSample& sample, std::string_view time) override {
        if (!has_position(sample)) return;  // GPX has no point without one
        out.append(R"(<trkpt lat=")").append(sample["latitude"]);
        out.append(R"(" lon=")").append(sample["longitude"]).append("\">");
        if (const auto metres = metres_of(sample)) out.append("<ele>").append(*metres).append("</ele>");
        out.append("<time>").append(time).append("</time><extensions>");
        for (const std::string_view key : kGpxExtensionKeys) {
            const std::string& value = sample[key];
            if (value.empty()) continue;
            out.append("<velmar:").append(key).append(">").append(value);
            out.append("</velmar:").append(key).append(">");
        }
        out.append("</extensions></trkpt>\n");
    }
    void end(std::string& out) override { out.append("</trkseg></trk>\n</gpx>\n"); }
};

// A gx:Track lists every time first and then every position, so the
// recording is read twice rather than held.
class Kml final : public ExportFormat {
public:
    int passes() const override { return 2; }
    void begin(std::string& out, const ExportInfo& info) override {
        out.append(R"(<?xml version="1.0" encoding="UTF-8"?>)"
                   "\n");
        out.append(R"(<kml xmlns="http://www.opengis.net/kml/2.2" xmlns:gx="http://www.google.com/kml/ext/2.2">)");
        out.append("\n<Document><name>");
        append_xml_text(out, track_name(info));
        out.append("</name>\n<Placemark><name>");
        append_xml_text(out, track_name(info));
        out.append("</name>\n<gx:Track><altitudeMode>absolute</altitudeMode>\n");
    }
    void sample(std::string& out, int pass, const RecordedSample& sample, std::string_view time) override {
        const auto metres = metres_of(sample);
        if (!has_position(sample) || !metres) return;
        if (pass == 0) {
            out.append("<when>").append(time).append("</when>\n");
        } else {
            out.append("<gx:coord>").append(sample["longitude"]).append(" ").append(sample["latitude"]);
            out.append(" ").append(*metres).append("</gx:coord>\n");
        }
    }
    void end(std::string& out) override { out.append("</gx:Track></Placemark>\n</Document>\n</kml>\n"); }
};

// RFC 4180: CR LF line ends, text fields quoted with their quotes doubled.
class Csv final : public ExportFormat {
public:
    void begin(std::string& out, const ExportInfo&) override {
        for (const FlightJsonKey& key : flight_json_keys()) out.append(key.name).append(",");
        out.append("time\r\n");
    }
    void sample(std::string& out, int, const RecordedSample& sample, std::string_view time) override {
        const auto keys = flight_json_keys();
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (keys[i].kind != FlightJsonKind::text) {
                out.append(sample.text[i]);  // a null number stays an empty field
            } else {
                out.push_back('"');
                for (const char c : sample.text[i]) {
                    if (c == '"') out.push_back('"');
                    out.push_back(c);
                }
                out.push_back('"');
            }
            out.push_back(',');
        }
        out.append(time).append("\r\n");
    }
    void end(std::string&) override {}
};

}  // namespace

std::unique_ptr<ExportFormat> format_for(std::string_view output) {
    const std::string_view name = file_name_of(output);
    const std::size_t dot = name.rfind('.');
    const std::string extension = dot == std::string_view::npos ? "" : platform::to_lower_ascii(name.substr(dot));
    if (extension == ".gpx") return std::make_unique<Gpx>();
    if (extension == ".kml") return std::make_unique<Kml>();
    if (extension == ".csv") return std::make_unique<Csv>();
    if (extension == ".html" || extension == ".htm") return make_html_page();
    return nullptr;
}

void append_xml_text(std::string& out, std::string_view text) {
    constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '&':
                out.append("&amp;");
                break;
            case '<':
                out.append("&lt;");
                break;
            case '>':
                out.append("&gt;");
                break;
            case '"':
                out.append("&quot;");
                break;
            case '\'':
                out.append("&apos;");
                break;
            default:
                if (byte < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                    out.append(kReplacement);
                } else {
                    out.push_back(c);
                }
        }
    }
}

}  // namespace velmar
