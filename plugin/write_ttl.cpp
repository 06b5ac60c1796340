// Writes the plugin bundle's description (zelvox.ttl) from the port table, so that every
// port's name, range, default and choices are said once, in Ports.h and the control table.
//
// Usage: zelvox-lv2-ttl OUTPUT.ttl

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "files/PatternFileFormat.h"
#include "plugin/Ports.h"

using namespace zelvox;
using namespace zelvox::lv2;

namespace {

// Room on the control and notify ports for the window's messages: the whole state (the
// pattern-file bytes) travels in one patch:Set, with the steps beside it.
constexpr uint32_t kAtomPortBytes = 65536;
static_assert(kAtomPortBytes >= kPatternFileSize + 4096);

std::string Number(float v) {
    std::ostringstream s;
    s << static_cast<long long>(v);
    return s.str() + ".0";
}

std::string PortName(uint32_t i, const PortInfo& p) {
    const uint32_t sound = i - static_cast<uint32_t>(kPanelPorts.size() + kEditPorts.size());
    if (i < kPanelPorts.size() + kEditPorts.size()) return p.Name;
    const ControlRow& row = kControls[sound];
    return std::string(VoiceName(row.Panel)) + " " + p.Name;
}

void ControlPort(std::ostream& o, uint32_t index, const PortInfo& p, const std::string& name) {
    o << " , [\n"
      << "        a lv2:InputPort , lv2:ControlPort ;\n"
      << "        lv2:index " << index << " ;\n"
      << "        lv2:symbol \"" << p.Symbol << "\" ;\n"
      << "        lv2:name \"" << name << "\" ;\n"
      << "        lv2:default " << Number(p.Default) << " ;\n"
      << "        lv2:minimum " << Number(p.Min) << " ;\n"
      << "        lv2:maximum " << Number(p.Max);
    int points = 0;
    for (const ScalePoint& sp : p.Points)
        if (sp.Label && *sp.Label) ++points;
    if (p.Toggle)
        o << " ;\n        lv2:portProperty lv2:toggled";
    else
        o << " ;\n        lv2:portProperty lv2:integer";
    if (points > 0 && points == static_cast<int>(p.Max - p.Min) + 1)
        o << " , lv2:enumeration";
    if (p.Unit) o << " ;\n        units:unit units:" << p.Unit;
    for (int k = 0; k < points; ++k)
        o << " ;\n        lv2:scalePoint [ rdfs:label \"" << p.Points[size_t(k)].Label
          << "\" ; rdf:value " << Number(p.Points[size_t(k)].Value) << " ]";
    o << "\n    ]";
}

void Plugin(std::ostream& o, const char* uri, const char* name, bool stereo) {
    o << "<" << uri << ">\n"
      << "    a lv2:Plugin , lv2:InstrumentPlugin ;\n"
      << "    doap:name \"" << name << "\" ;\n"
      << "    rdfs:comment \"Pattern synthesizer: a bass voice, a Twin-T drum and a noise voice "
         "playing 16-step patterns, with a tempo-synced echo. Follows the host's transport; "
         "patterns travel with the project.\" ;\n"
      << "    doap:maintainer [ foaf:name \"The Zelvox developers\" ] ;\n"
      << "    lv2:minorVersion 0 ;\n"
      << "    lv2:microVersion 0 ;\n"
      << "    lv2:requiredFeature urid:map ;\n"
      << "    lv2:optionalFeature log:log , work:schedule , lv2:hardRTCapable ;\n"
      << "    lv2:extensionData state:interface , work:interface ;\n"
      << "    patch:writable zelvox:patternFile ;\n"
      << "    lv2:port [\n"
      << "        a lv2:AudioPort , lv2:OutputPort ;\n"
      << "        lv2:index " << kOutPort << " ;\n"
      << "        lv2:symbol \"out" << (stereo ? "_l" : "") << "\" ;\n"
      << "        lv2:name \"" << (stereo ? "Output left" : "Output") << "\"\n"
      << "    ] , [\n"
      << "        a lv2:InputPort , atom:AtomPort ;\n"
      << "        atom:bufferType atom:Sequence ;\n"
      << "        atom:supports midi:MidiEvent , time:Position , patch:Message ;\n"
      << "        lv2:designation lv2:control ;\n"
      << "        lv2:index " << kControlPort << " ;\n"
      << "        lv2:symbol \"control\" ;\n"
      << "        rsz:minimumSize " << kAtomPortBytes << " ;\n"
      << "        lv2:name \"Control\"\n"
      << "    ] , [\n"
      << "        a lv2:OutputPort , atom:AtomPort ;\n"
      << "        atom:bufferType atom:Sequence ;\n"
      << "        atom:supports patch:Message ;\n"
      << "        lv2:designation lv2:control ;\n"
      << "        lv2:index " << kNotifyPort << " ;\n"
      << "        lv2:symbol \"notify\" ;\n"
      << "        rsz:minimumSize " << kAtomPortBytes << " ;\n"
      << "        lv2:name \"Notify\"\n"
      << "    ]";
    for (uint32_t i = 0; i < kControlPortCount; ++i)
        ControlPort(o, kFirstControlPort + i, ControlPortInfo(i), PortName(i, ControlPortInfo(i)));
    if (stereo)
        o << " , [\n"
          << "        a lv2:AudioPort , lv2:OutputPort ;\n"
          << "        lv2:index " << kRightPort << " ;\n"
          << "        lv2:symbol \"out_r\" ;\n"
          << "        lv2:name \"Output right\"\n"
          << "    ]";
    // The converter's delay at a host rate other than 44,100 Hz.
    o << " , [\n"
      << "        a lv2:OutputPort , lv2:ControlPort ;\n"
      << "        lv2:index " << LatencyPort(stereo) << " ;\n"
      << "        lv2:symbol \"latency\" ;\n"
      << "        lv2:name \"Latency\" ;\n"
      << "        lv2:designation lv2:latency ;\n"
      << "        lv2:portProperty lv2:reportsLatency , lv2:integer ;\n"
      << "        units:unit units:frame ;\n"
      << "        lv2:minimum 0 ;\n"
      << "        lv2:maximum 48000\n"
      << "    ]";
    o << " , [\n"
      << "        a lv2:InputPort , lv2:ControlPort ;\n"
      << "        lv2:index " << SwingPort(stereo) << " ;\n"
      << "        lv2:symbol \"swing\" ;\n"
      << "        lv2:name \"Swing\" ;\n"
      << "        lv2:portProperty lv2:integer ;\n"
      << "        units:unit units:pc ;\n"
      << "        lv2:default 0 ;\n"
      << "        lv2:minimum 0 ;\n"
      << "        lv2:maximum 75\n"
      << "    ]";
    // The sequence as MIDI notes, and its switch, channels and drum notes.
    o << " , [\n"
      << "        a lv2:OutputPort , atom:AtomPort ;\n"
      << "        atom:bufferType atom:Sequence ;\n"
      << "        atom:supports midi:MidiEvent ;\n"
      << "        lv2:index " << NotesOutPort(stereo) << " ;\n"
      << "        lv2:symbol \"midi_out\" ;\n"
      << "        lv2:name \"MIDI notes\"\n"
      << "    ]";
    for (uint32_t i = 0; i < kNotesPorts.size(); ++i)
        ControlPort(o, NotesControlPort(stereo, i), kNotesPorts[i], kNotesPorts[i].Name);
    for (uint32_t i = 0; i < kNotesInPorts.size(); ++i)
        ControlPort(o, NotesInPort(stereo, i), kNotesInPorts[i], kNotesInPorts[i].Name);
    o << " .\n\n";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: zelvox-lv2-ttl OUTPUT.ttl\n";
        return 2;
    }
    std::ostringstream o;
    o << "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
         "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
         "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n"
         "@prefix log: <http://lv2plug.in/ns/ext/log#> .\n"
         "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
         "@prefix midi: <http://lv2plug.in/ns/ext/midi#> .\n"
         "@prefix patch: <http://lv2plug.in/ns/ext/patch#> .\n"
         "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
         "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
         "@prefix rsz: <http://lv2plug.in/ns/ext/resize-port#> .\n"
         "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
         "@prefix time: <http://lv2plug.in/ns/ext/time#> .\n"
         "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
         "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n"
         "@prefix work: <http://lv2plug.in/ns/ext/worker#> .\n"
         "@prefix zelvox: <"
      << kNs
      << "> .\n\n"
         "zelvox:patternFile\n"
         "    a lv2:Parameter ;\n"
         "    rdfs:label \"Pattern file\" ;\n"
         "    rdfs:comment \"A pattern file (.zvx) made in the desktop program: its patterns, "
         "song, tempo, steps, echo and volume replace the plugin's.\" ;\n"
         "    rdfs:range atom:Path .\n\n";
    Plugin(o, kUri, "Zelvox", false);
    Plugin(o, kStereoUri, "Zelvox (stereo)", true);
    std::ofstream f(argv[1], std::ios::binary);
    f << o.str();
    f.close();
    if (!f) {
        std::cerr << "zelvox-lv2-ttl: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
