"""Reads an export back as its own readers would and compares it with the
recording, whose numbers are taken as their text.
  read_back.py RECORDING FORMAT FILE     FORMAT: gpx, kml, csv, html (the page or a browser's DOM of it)
Prints each difference; exit status 1 when there is one."""
import csv
import datetime
import html.parser
import json
import os
import re
import sys
import xml.etree.ElementTree as ElementTree

recording, kind, path = sys.argv[1:4]
samples = [json.loads(line, parse_float=str, parse_int=str, object_pairs_hook=dict)
           for line in open(recording, encoding="utf-8") if line.endswith("\n")]
stamp = re.match(r"flight_data_(\d{8}_\d{6})", os.path.basename(recording)).group(1)
start = datetime.datetime.strptime(stamp, "%Y%m%d_%H%M%S")
problems = []


def time_of(sample):
    return (start + datetime.timedelta(milliseconds=int(sample["timestamp"]))).isoformat(timespec="milliseconds")


def expect(what, got, wanted):
    if got != wanted:
        problems.append(f"{kind} {what}: {got!r}, expected {wanted!r}")


def metres_match(text, feet):
    return abs(float(text) - float(feet) * 0.3048) <= 0.0005 + 1e-9


def points(found):  # [(lat, lon, ele, time)] against the recording
    expect("point count", len(found), len(samples))
    for index, ((lat, lon, ele, time), sample) in enumerate(zip(found, samples)):
        expect(f"point {index}", (lat, lon, time), (sample["latitude"], sample["longitude"], time_of(sample)))
        if not metres_match(ele, sample["altitude"]):
            problems.append(f"{kind} point {index}: elevation {ele} for {sample['altitude']} ft")


if kind == "gpx":
    ns = {"g": "http://www.topografix.com/GPX/1/1", "v": "urn:velmar-tracker:gpx:1"}
    root = ElementTree.parse(path).getroot()
    expect("root", (root.tag, root.get("version")), ("{%s}gpx" % ns["g"], "1.1"))
    expect("track name", root.findtext("g:trk/g:name", namespaces=ns), samples[0]["aircraft_title"])
    found = root.findall("g:trk/g:trkseg/g:trkpt", ns)
    points([(p.get("lat"), p.get("lon"), p.findtext("g:ele", namespaces=ns), p.findtext("g:time", namespaces=ns))
            for p in found])
    for p, sample in zip(found, samples):
        expect("fuel", p.findtext("g:extensions/v:fuel_quantity", namespaces=ns), sample["fuel_quantity"])
elif kind == "kml":
    ns = {"k": "http://www.opengis.net/kml/2.2", "gx": "http://www.google.com/kml/ext/2.2"}
    track = ElementTree.parse(path).getroot().find("k:Document/k:Placemark/gx:Track", ns)
    expect("altitude mode", track.findtext("k:altitudeMode", namespaces=ns), "absolute")
    whens = [w.text for w in track.findall("k:when", ns)]
    coords = [c.text.split(" ") for c in track.findall("gx:coord", ns)]
    points([(lat, lon, ele, when) for when, (lon, lat, ele) in zip(whens, coords)] if len(whens) == len(coords) else [])
elif kind == "csv":
    with open(path, newline="", encoding="utf-8") as file:
        rows = list(csv.reader(file))
    keys = list(samples[0].keys())
    expect("header", rows[0], keys + ["time"])
    expect("row count", len(rows) - 1, len(samples))
    for index, (row, sample) in enumerate(zip(rows[1:], samples)):
        expect(f"row {index}", row, [str(sample[k]).lower() if isinstance(sample[k], bool) else sample[k] or ""
                                     for k in keys] + [time_of(sample)])
else:
    class Page(html.parser.HTMLParser):
        def __init__(self):
            super().__init__()
            self.svg, self.polylines, self.texts, self.text_of = None, {}, {}, None

        def handle_starttag(self, tag, attributes):
            attributes = dict(attributes)
            if tag == "svg":
                self.svg = attributes.get("id")
            elif tag == "polyline" and self.svg:
                self.polylines[self.svg] = attributes["points"].split()
            elif tag == "p" and attributes.get("id"):
                self.text_of = attributes["id"]

        def handle_endtag(self, tag):
            self.svg = None if tag == "svg" else self.svg
            self.text_of = None if tag == "p" else self.text_of

        def handle_data(self, data):
            if self.text_of:
                self.texts[self.text_of] = self.texts.get(self.text_of, "") + data

    page = Page()
    page.feed(open(path, encoding="utf-8").read())
    expect("plots", sorted(page.polylines), sorted(["track", "altitude", "airspeed_indicated", "gps_ground_speed"]))
    for plot, unit in (("altitude", "ft"), ("airspeed_indicated", "kn"), ("gps_ground_speed", "kn")):
        values = [float(s[plot]) for s in samples if s[plot] is not None]
        expect(f"{plot} points", len(page.polylines.get(plot, [])), len(values))
        expect(f"{plot} range", page.texts.get(plot + "_range"),
               f"minimum {min(values):.2f} {unit}, maximum {max(values):.2f} {unit}")
    expect("track points", len(page.polylines.get("track", [])), len(samples))
print("\n".join(problems[:20]))
sys.exit(1 if problems else 0)
