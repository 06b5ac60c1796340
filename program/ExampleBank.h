#pragma once
// The factory bank: the pattern files installed in share/zelvox/patterns. The programs find
// it beside themselves (<bin>/../share/zelvox/patterns, so that a staged or moved install and
// the build tree, which keeps a copy there, find their own), then in the configured prefix.
// An example is opened as a copy: its file is read, never written (the window's Save always
// asks for a file of the user's).

#include <string>
#include <vector>

namespace zelvox {

struct Example {
    std::string Name; // the file name without ".zvx": "acid-slides-saw"
    std::string Path;
};

// The folder of the running program (from /proc/self/exe); empty when it cannot be read.
std::string ProgramDir();

// The folders searched, first first, for a program in `programDir`.
std::vector<std::string> ExampleFolders(const std::string& programDir);

// The .zvx files of the first of those folders that holds any, sorted by name; empty when
// none does.
std::vector<Example> ListExamples(const std::string& programDir);

// The example called `name` (with or without ".zvx"); its Path is empty when there is none.
Example FindExample(const std::string& programDir, const std::string& name);

// True when a pattern file's song has a first phrase (it plays something on the Arranger
// page): the examples that are songs.
bool PatternFileHasSong(const std::vector<unsigned char>& bytes);

} // namespace zelvox
