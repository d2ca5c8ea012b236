// The self-contained page of a recording: inline SVG plots, no script, no
// network; well-formed XML too, so XML tools can read it.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <vector>

#include "export/export_formats.h"

namespace velmar {

namespace {

// A plot holds at most this many points: enough for the eye, small enough for
// any browser. Minimum and maximum always come from every sample.
constexpr std::size_t kMaxPlottedPoints = 2000;
constexpr double kPlotWidth = 800;
constexpr double kPlotHeight = 220;
constexpr double kTrackHeight = 480;
constexpr double kMargin = 10;
constexpr double kPi = 3.14159265358979323846;

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

std::string fixed(double value, int decimals) {
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return std::string(buffer, result.ptr);
}

std::string duration_text(std::int64_t ms) {
    const std::int64_t seconds = std::max<std::int64_t>(ms, 0) / 1000;
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return buffer;
}

struct Range {
    double min = std::numeric_limits<double>::infinity();
    double max = -std::numeric_limits<double>::infinity();
    bool empty() const { return min > max; }
    void add(double value) {
        if (std::isnan(value)) return;
        min = std::min(min, value);
        max = std::max(max, value);
    }
    double span() const { return max > min ? max - min : 1.0; }  // a flat line sits at the bottom
};

// The indices to plot: every one, or evenly spaced ones and the last.
std::vector<std::size_t> plotted(std::size_t count) {
    std::vector<std::size_t> indices;
    const std::size_t step = count <= kMaxPlottedPoints ? 1 : (count + kMaxPlottedPoints - 2) / (kMaxPlottedPoints - 1);
    for (std::size_t i = 0; i < count; i += step) indices.push_back(i);
    if (count > 0 && indices.back() != count - 1) indices.push_back(count - 1);
    return indices;
}

void open_svg(std::string& out, std::string_view id, double height, std::string_view label) {
    out.append(R"(<svg xmlns="http://www.w3.org/2000/svg" id=")").append(id);
    out.append(R"(" role="img" width=")").append(fixed(kPlotWidth, 0));
    out.append(R"(" height=")").append(fixed(height, 0)).append(R"(" viewBox="0 0 )");
    out.append(fixed(kPlotWidth, 0)).append(" ").append(fixed(height, 0)).append(R"("><title>)");
    append_xml_text(out, label);
    out.append("</title>\n");
    out.append(R"(<rect x="0" y="0" width="100%" height="100%" class="frame"/>)");
}

class HtmlPage final : public ExportFormat {
public:
    void begin(std::string&, const ExportInfo& info) override { info_ = info; }

    void sample(std::string&, int, const RecordedSample& sample, std::string_view) override {
        if (times_.empty()) first_ms_ = sample.timestamp_ms;
        last_ms_ = sample.timestamp_ms;
        times_.push_back(static_cast<double>(sample.timestamp_ms - first_ms_) / 1000.0);
        const auto value = [&](std::string_view key) { return sample.number(key).value_or(kMissing); };
        latitudes_.push_back(value("latitude"));
        longitudes_.push_back(value("longitude"));
        series_[0].push_back(value("altitude"));
        series_[1].push_back(value("airspeed_indicated"));
        series_[2].push_back(value("gps_ground_speed"));
    }

    void end(std::string& out) override {
        const std::string title = info_.aircraft_title.empty() ? "Recording" : info_.aircraft_title;
        out.append("<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">\n<head>\n");
        out.append("<meta charset=\"utf-8\"/>\n<title>");
        append_xml_text(out, title + " - " + info_.recording_name);
        out.append(
            "</title>\n<style>\n"
            "body { font-family: sans-serif; margin: 1.5em; color: #222; }\n"
            "svg { display: block; max-width: 100%; height: auto; margin: 0.5em 0; }\n"
            ".frame { fill: #f7f7f7; stroke: #ccc; }\n"
            "polyline { fill: none; stroke: #1f5fa8; stroke-width: 1.5; }\n"
            "text { font-size: 12px; fill: #555; }\n"
            "td, th { padding: 0.1em 0.8em; text-align: left; }\n"
            "</style>\n</head>\n<body>\n<h1>");
        append_xml_text(out, title);
        out.append("</h1>\n<table id=\"summary\">\n");
        row(out, "Recording", info_.recording_name);
        row(out, "Start", iso_time(info_.start, 0) + " (the recording machine's local time)");
        row(out, "Duration", times_.empty() ? "none" : duration_text(last_ms_ - first_ms_));
        row(out, "Samples", std::to_string(times_.size()));
        Range latitude, longitude;
        for (std::size_t i = 0; i < times_.size(); ++i) {
            if (std::isnan(latitudes_[i]) || std::isnan(longitudes_[i])) continue;
            latitude.add(latitudes_[i]);
            longitude.add(longitudes_[i]);
        }
        row(out, "Latitude", range_text(latitude, 6, "°"));
        row(out, "Longitude", range_text(longitude, 6, "°"));
        out.append("</table>\n");
        track(out, latitude, longitude);
        static constexpr struct {
            std::string_view id, heading, unit;
        } kSeries[] = {{"altitude", "Altitude", "ft"},
                       {"airspeed_indicated", "Indicated airspeed", "kn"},
                       {"gps_ground_speed", "Ground speed", "kn"}};
        for (std::size_t i = 0; i < std::size(series_); ++i) {
            plot(out, kSeries[i].id, std::string(kSeries[i].heading) + " (" + std::string(kSeries[i].unit) + ")",
                 series_[i], kSeries[i].unit);
        }
        out.append("</body>\n</html>\n");
    }

private:
    static void row(std::string& out, std::string_view name, std::string_view value) {
        out.append("<tr><th>").append(name).append("</th><td>");
        append_xml_text(out, value);
        out.append("</td></tr>\n");
    }

    static std::string range_text(const Range& range, int decimals, std::string_view unit) {
        if (range.empty()) return "none recorded";
        const std::string suffix = unit == "°" ? std::string(unit) : " " + std::string(unit);  // 47.5°, 120.00 kn
        return "minimum " + fixed(range.min, decimals) + suffix + ", maximum " + fixed(range.max, decimals) + suffix;
    }

    // Plan view: east to the right, north up, longitude shrunk by the cosine
    // of the middle latitude so the shape is true.
    void track(std::string& out, const Range& latitude, const Range& longitude) const {
        out.append("<h2>Ground track</h2>\n");
        open_svg(out, "track", kTrackHeight, "Ground track, north up");
        if (!latitude.empty()) {
            const double shrink = std::cos((latitude.min + latitude.max) / 2 * kPi / 180);
            const double width = std::max(longitude.span() * shrink, 1e-9);
            const double height = std::max(latitude.span(), 1e-9);
            const double scale = std::min((kPlotWidth - 2 * kMargin) / width, (kTrackHeight - 2 * kMargin) / height);
            out.append(R"(<polyline points=")");
            for (const std::size_t i : plotted(times_.size())) {
                if (std::isnan(latitudes_[i]) || std::isnan(longitudes_[i])) continue;
                const double x = kMargin + (longitudes_[i] - longitude.min) * shrink * scale;
                const double y = kTrackHeight - kMargin - (latitudes_[i] - latitude.min) * scale;
                out.append(fixed(x, 1)).append(",").append(fixed(y, 1)).append(" ");
            }
            out.append("\"/>\n");
        }
        out.append("</svg>\n");
    }

    void plot(std::string& out, std::string_view id, const std::string& heading, const std::vector<double>& values,
              std::string_view unit) const {
        Range range;
        for (const double value : values) range.add(value);
        out.append("<h2>");
        append_xml_text(out, heading);
        out.append("</h2>\n");
        open_svg(out, id, kPlotHeight, heading + " against time");
        if (!range.empty()) {
            const double duration = std::max(times_.back(), 1e-9);
            out.append(R"(<polyline points=")");
            for (const std::size_t i : plotted(values.size())) {
                if (std::isnan(values[i])) continue;
                const double x = kMargin + times_[i] / duration * (kPlotWidth - 2 * kMargin);
                const double y =
                    kPlotHeight - kMargin - (values[i] - range.min) / range.span() * (kPlotHeight - 2 * kMargin);
                out.append(fixed(x, 1)).append(",").append(fixed(y, 1)).append(" ");
            }
            out.append("\"/>\n");
            out.append(R"(<text x="14" y="24">)").append(fixed(range.max, 2)).append("</text>");
            out.append(R"(<text x="14" y=")").append(fixed(kPlotHeight - 14, 0)).append("\">");
            out.append(fixed(range.min, 2)).append("</text>");
            out.append(R"(<text x=")").append(fixed(kPlotWidth - 60, 0)).append(R"(" y=")");
            out.append(fixed(kPlotHeight - 14, 0)).append("\">").append(duration_text(last_ms_ - first_ms_));
            out.append("</text>\n");
        }
        out.append("</svg>\n<p class=\"range\" id=\"").append(id).append("_range\">");
        append_xml_text(out, range_text(range, 2, unit));
        out.append("</p>\n");
    }

    ExportInfo info_;
    std::int64_t first_ms_ = 0;
    std::int64_t last_ms_ = 0;
    std::vector<double> times_;  // seconds since the first sample
    std::vector<double> latitudes_;
    std::vector<double> longitudes_;
    std::vector<double> series_[3];  // altitude, indicated airspeed, ground speed
};

}  // namespace

std::unique_ptr<ExportFormat> make_html_page() { return std::make_unique<HtmlPage>(); }

}  // namespace velmar
