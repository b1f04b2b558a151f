#pragma once

// Runs niloexample as a process in a fresh temporary folder, with
// NILOEXAMPLE_URL naming its source, and gathers what it left behind: the
// part files, the sink file and its console output taken apart.

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "RunProcess.h"
#include "TempDir.h"

namespace exampletest {

inline std::string partName(size_t index) { return "tarko_example_jpgpart" + std::to_string(index) + ".jpg"; }

inline const std::string kSinkName = "nilo_example.txt";

// Standard output as the example writes it:
//   "u: " handle, line end; the text of ordinary data; a line end;
//   "Log:", line end, the source's log, line end; "Log:", line end, the
//   sink's log, line end.
struct ExampleOutput {
    bool wellFormed = false;
    std::string handle;  // the pointer value after "u: "
    std::string text;
    std::string sourceLog;
    std::string sinkLog;
};

inline ExampleOutput parseOutput(const std::string& out) {
    ExampleOutput parsed;
    const std::string marker = "\nLog:\n";
    const size_t lineEnd = out.find('\n');
    if (out.compare(0, 3, "u: ") != 0 || lineEnd == std::string::npos) return parsed;
    parsed.handle = out.substr(3, lineEnd - 3);
    const size_t first = out.find(marker, lineEnd + 1);
    const size_t second = out.rfind(marker);
    if (first == std::string::npos || second == first || out.back() != '\n') return parsed;
    parsed.text = out.substr(lineEnd + 1, first - lineEnd - 1);
    parsed.sourceLog = out.substr(first + marker.size(), second - first - marker.size());
    parsed.sinkLog = out.substr(second + marker.size(), out.size() - 1 - second - marker.size());
    parsed.wellFormed = true;
    return parsed;
}

struct ExampleRun {
    testsupport::ProcessResult process;
    ExampleOutput output;
    std::set<std::string> files;     // every name in the folder afterwards
    std::vector<std::string> parts;  // contents of the part files 0, 1, ... up to the first one missing
    std::string sink;                // contents of the sink file
};

// On Windows the example writes its console in text mode, where every line
// end goes out as CR LF. Dropping the CR before each LF undoes exactly that
// (a CR LF the example wrote itself went out as CR CR LF), so the tests see
// the bytes the example wrote.
inline std::string withPlainLineEnds(std::string text) {
#if defined(_WIN32)
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
#endif
    return text;
}

inline ExampleRun runExample(const std::string& url, int seconds = 30) {
    testsupport::TempDir folder;
    ExampleRun run;
    run.process = testsupport::RunProcess({NILOEXAMPLE}, folder.path, {"NILOEXAMPLE_URL=" + url}, seconds);
    run.process.out = withPlainLineEnds(run.process.out);
    run.process.err = withPlainLineEnds(run.process.err);
    run.output = parseOutput(run.process.out);
    for (const auto& entry : std::filesystem::directory_iterator(folder.path))
        run.files.insert(entry.path().filename().string());
    for (size_t k = 0; run.files.count(partName(k)) != 0; ++k)
        run.parts.push_back(testsupport::readFile(folder / partName(k)));
    run.sink = testsupport::readFile(folder / kSinkName);
    return run;
}

// The names that a run leaving `parts` part files and the sink file has made.
inline std::set<std::string> expectedFiles(size_t parts) {
    std::set<std::string> names{kSinkName};
    for (size_t k = 0; k < parts; ++k) names.insert(partName(k));
    return names;
}

}  // namespace exampletest
