// perf_table: how nilo's receive paths compare with references that do the
// same work, as one table of ratios measured in one run.
//
//   perf_table [--runs N]     (default 11)
//
// HTTP rows (loopback, from the bundled camera server at full speed):
//   64 MiB Content-Length body   GetData with 64 KiB (nilo_http_read), curl,
//                                and recv_floor (recv into 64 KiB, the floor)
//   1000 multipart parts of 100 KiB, the same three readers
//   the same parts in chunked transfer coding, the same three readers
//   64 MiB chunked body, the same three readers
// File rows (a 256 MiB file in the page cache): GetData against a plain
// read() loop with the same room: 1023 bytes, 64 KiB, 1 MiB.
//
// Every program runs as a process of its own, N times; the rounds alternate
// the programs (and reverse their order every other round), so that a change
// in the machine's load hits every side alike. A ratio is the median of the
// ratios of the same round. Times are the programs' own: the readers here
// print the seconds from before the connect (or open) to the last byte, and
// curl its time_total, so that starting a process does not count. CPU is the
// process's user + system time, less the median the same program takes for
// an empty body: what the body itself costs. System calls are counted with
// `perf stat -e raw_syscalls:sys_enter` in separate runs (median of three),
// less those of the empty body, per MiB of body; without perf they are left
// out, and without curl its columns.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr unsigned long long kMiB = 1024 * 1024;
constexpr unsigned long long kBlobSize = 64 * kMiB;
constexpr unsigned long long kParts = 1000;
constexpr unsigned long long kPartSize = 100 * 1024;
constexpr unsigned long long kFileSize = 256 * kMiB;
constexpr int kCountRuns = 3;

std::string workFolder;
std::vector<pid_t> servers;

void Cleanup() {
    for (pid_t pid : servers) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    servers.clear();
    if (!workFolder.empty()) std::filesystem::remove_all(workFolder);
    workFolder.clear();
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "perf_table: %s\n", what.c_str());
    Cleanup();
    std::exit(1);
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t half = values.size() / 2;
    return values.size() % 2 != 0 ? values[half] : (values[half - 1] + values[half]) / 2;
}

// ---- running one program ----

struct Outcome {
    std::string output;   // its standard output
    double cpu = 0;       // user + system seconds of the process
    long long calls = -1; // system calls, when counted
};

// Starts the program with its output and errors written to the two files;
// the process id, or -1 when it could not be forked. A program that cannot
// be run exits 127.
pid_t Start(std::vector<std::string>& argv, const std::string& out, const std::string& err) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (o < 0 || e < 0) ::_exit(126);
    ::dup2(o, STDOUT_FILENO);
    ::dup2(e, STDERR_FILENO);
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
}

// Runs argv to its end with its standard output collected; with `count`, under
// perf stat, which counts the system calls of the program and its threads.
Outcome Run(std::vector<std::string> argv, bool count) {
    const std::string counts = workFolder + "/calls.txt";
    if (count) {
        argv.insert(argv.begin(), {"perf", "stat", "-x,", "-e", "raw_syscalls:sys_enter", "-o", counts, "--"});
    }
    const std::string out = workFolder + "/out.txt";
    const std::string err = workFolder + "/err.txt";
    const pid_t pid = Start(argv, out, err);
    if (pid < 0) Fail(std::string("fork: ") + std::strerror(errno));
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid) Fail(std::string("wait4: ") + std::strerror(errno));
    std::string command;
    for (const std::string& a : argv) command += a + " ";
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        Fail(command + "failed (status " + std::to_string(status) + "): " + ReadText(err).substr(0, 400));
    }
    Outcome outcome;
    outcome.output = ReadText(out);
    outcome.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                  static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    if (count) {
        std::istringstream lines(ReadText(counts));
        for (std::string line; std::getline(lines, line);) {
            if (line.find("raw_syscalls:sys_enter") != std::string::npos) outcome.calls = std::atoll(line.c_str());
        }
        if (outcome.calls < 0) Fail("no system call count from perf for " + command);
    }
    return outcome;
}

bool Works(std::vector<std::string> argv) {
    const pid_t pid = Start(argv, "/dev/null", "/dev/null");
    if (pid < 0) return false;
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// ---- the readers ----

// One reader of a row: how to run it on a source, and what it reports.
struct Reader {
    std::string name;
    std::function<std::vector<std::string>(const std::string& source)> command;
    // Its own seconds and the bytes it got, from its output.
    std::function<bool(const std::string& output, double& seconds, unsigned long long& bytes)> parse;
};

bool ParseHttp(const std::string& output, double& seconds, unsigned long long& bytes) {
    return std::sscanf(output.c_str(), "bytes=%llu elapsed=%lf", &bytes, &seconds) == 2;
}

// file_read_bench --child reports "seconds bytes" as its last line (a file
// source prints its "url path: " line first).
bool ParseFile(const std::string& output, double& seconds, unsigned long long& bytes) {
    const size_t end = output.find_last_not_of('\n');
    if (end == std::string::npos) return false;
    const size_t start = output.rfind('\n', end);
    const std::string last = output.substr(start == std::string::npos ? 0 : start + 1);
    return std::sscanf(last.c_str(), "%lf %llu", &seconds, &bytes) == 2;
}

Reader HttpReader(const std::string& name, const std::string& program) {
    return {name, [program](const std::string& url) { return std::vector<std::string>{program, url}; }, ParseHttp};
}

Reader Curl() {
    return {"curl",
            [](const std::string& url) {
                return std::vector<std::string>{"curl", "-s", "-o", "/dev/null", "-w",
                                                "bytes=%{size_download} elapsed=%{time_total}\n", url};
            },
            ParseHttp};
}

Reader FileReader(const std::string& mode, unsigned room) {
    return {mode == "nilo" ? "nilo" : "read()",
            [mode, room](const std::string& path) {
                return std::vector<std::string>{FILE_READ_BENCH, "--child", mode, std::to_string(room), path, "1"};
            },
            ParseFile};
}

// ---- the rows ----

struct Samples {
    std::vector<double> seconds, cpu;
    double emptyCpu = 0;    // median CPU on the empty source
    long long calls = -1;   // median system calls on the source, less those on the empty one
};

struct Row {
    std::string title;
    std::string source, emptySource;
    double mib;                            // MiB of body, for the calls per MiB
    std::vector<unsigned long long> bytes; // what each reader must report, 0: any
    std::vector<Reader> readers;           // the subject first, then its references
    std::vector<Samples> samples;
};

void Measure(Row& row, size_t r, bool count) {
    const Reader& reader = row.readers[r];
    const Outcome o = Run(reader.command(row.source), count);
    double seconds = 0;
    unsigned long long bytes = 0;
    if (!reader.parse(o.output, seconds, bytes)) Fail(row.title + ", " + reader.name + ": no result in: " + o.output);
    if (row.bytes[r] != 0 && bytes != row.bytes[r]) {
        Fail(row.title + ", " + reader.name + ": got " + std::to_string(bytes) + " bytes, not " +
             std::to_string(row.bytes[r]));
    }
    row.samples[r].seconds.push_back(seconds);
    row.samples[r].cpu.push_back(o.cpu);
}

// Median, over the rounds, of subject / reference for one quantity.
double RoundRatio(const Row& row, size_t ref, bool cpu) {
    const Samples& a = row.samples[0];
    const Samples& b = row.samples[ref];
    std::vector<double> ratios;
    for (size_t i = 0; i < a.seconds.size() && i < b.seconds.size(); ++i) {
        const double x = cpu ? a.cpu[i] - a.emptyCpu : a.seconds[i];
        const double y = cpu ? b.cpu[i] - b.emptyCpu : b.seconds[i];
        if (y > 0) ratios.push_back(x / y);
    }
    return Median(ratios);
}

std::string LoadAverage() {
    std::string text = ReadText("/proc/loadavg");
    std::istringstream fields(text);
    std::string one, five, fifteen;
    fields >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// Starts the camera server with the options on a free loopback port and
// returns the port.
std::string StartServer(const std::vector<std::string>& options, const std::string& name) {
    const std::string log = workFolder + "/" + name + ".log";
    std::vector<std::string> argv = {CAMERA_SERVER, "--port", "0", "--fps", "0", "--exit-after", "3600"};
    argv.insert(argv.end(), options.begin(), options.end());
    const pid_t pid = ::fork();
    if (pid < 0) Fail("fork");
    if (pid == 0) {
        const int o = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(o, STDOUT_FILENO);
        ::dup2(o, STDERR_FILENO);
        std::vector<char*> args;
        for (std::string& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    servers.push_back(pid);
    for (int i = 0; i < 200; ++i) {
        const std::string text = ReadText(log);
        const size_t at = text.find("listening on ");
        const size_t end = text.find('\n', at);
        if (at != std::string::npos && end != std::string::npos) return text.substr(at + 13, end - at - 13);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Fail("the camera server did not start: " + ReadText(log));
}

void CreateFile(const std::string& path, unsigned long long size) {
    std::vector<char> block(kMiB);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 131) >> 3);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (unsigned long long done = 0; done < size; done += kMiB) out.write(block.data(), kMiB);
    if (!out.flush()) Fail("cannot write " + path);
    out.close();
    // Read once, so that the file is in the page cache before anything is timed.
    std::ifstream in(path, std::ios::binary);
    while (in.read(block.data(), kMiB)) {
    }
}

std::string Cell(double value, const char* format = "%.2f") {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string CallsPerMiB(const Row& row, size_t r) {
    if (r >= row.samples.size() || row.samples[r].calls < 0) return "n/a";
    const double perMiB = static_cast<double>(row.samples[r].calls) / row.mib;
    return Cell(perMiB, perMiB < 10 ? "%.1f" : "%.0f");
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 11;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: perf_table [--runs N]\n");
            return 2;
        }
    }
    if (runs < 1) runs = 1;

    std::string folder = (std::filesystem::temp_directory_path() / "nilo-perf-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) Fail("mkdtemp");
    workFolder = folder;

    const bool haveCurl = Works({"curl", "--version"});
    const bool havePerf = Works({"perf", "stat", "-x,", "-e", "raw_syscalls:sys_enter", "-o", "/dev/null", "--", "true"});
    const std::string loadBefore = LoadAverage();

    const std::string blob = std::to_string(kBlobSize);
    const std::string plain = "http://127.0.0.1:" +
                              StartServer({"--blob-size", blob, "--parts", std::to_string(kParts), "--part-size",
                                           std::to_string(kPartSize)},
                                          "plain");
    const std::string chunked =
        "http://127.0.0.1:" + StartServer({"--blob-size", blob, "--parts", std::to_string(kParts), "--part-size",
                                           std::to_string(kPartSize), "--chunked"},
                                          "chunked");
    const std::string empty = "http://127.0.0.1:" + StartServer({"--blob-size", "0"}, "empty") + "/blob";

    const std::string file = workFolder + "/256MiB.bin";
    const std::string emptyFile = workFolder + "/empty.bin";
    CreateFile(file, kFileSize);
    CreateFile(emptyFile, 0);

    std::vector<Reader> httpReaders = {HttpReader("nilo", NILO_HTTP_READ), HttpReader("floor", RECV_FLOOR)};
    if (haveCurl) httpReaders.insert(httpReaders.begin() + 1, Curl());
    auto httpBytes = [&](unsigned long long nilo, unsigned long long others) {
        std::vector<unsigned long long> bytes(httpReaders.size(), others);
        bytes[0] = nilo;
        return bytes;
    };
    const double partsMiB = static_cast<double>(kParts * kPartSize) / kMiB;
    std::vector<Row> rows = {
        // nilo reports each part's 4-byte length ahead of its bytes.
        {"64 MiB Content-Length body", plain + "/blob", empty, 64, httpBytes(kBlobSize, kBlobSize), httpReaders, {}},
        {"1000 parts of 100 KiB", plain + "/parts", empty, partsMiB, httpBytes(kParts * (kPartSize + 4), 0),
         httpReaders, {}},
        {"1000 parts, chunked", chunked + "/parts", empty, partsMiB, httpBytes(kParts * (kPartSize + 4), 0),
         httpReaders, {}},
        {"64 MiB chunked body", chunked + "/blob", empty, 64, httpBytes(kBlobSize, 0), httpReaders, {}},
    };
    constexpr size_t kHttpRows = 4;
    if (haveCurl) rows[3].bytes[1] = kBlobSize;  // curl decodes the chunks too; the floor counts them
    for (unsigned room : {1023u, 65536u, 1u << 20}) {
        const std::string label = room == 1023 ? "1023 B" : room == 65536 ? "64 KiB" : "1 MiB";
        rows.push_back({"file, " + label + " buffer", file, emptyFile, static_cast<double>(kFileSize) / kMiB,
                        {kFileSize, kFileSize}, {FileReader("nilo", room), FileReader("plain", room)}, {}});
    }
    for (Row& row : rows) row.samples.resize(row.readers.size());

    std::fprintf(stderr, "perf_table: %d rounds", runs);
    for (int round = 0; round < runs; ++round) {
        for (Row& row : rows) {
            for (size_t k = 0; k < row.readers.size(); ++k) {
                Measure(row, round % 2 == 0 ? k : row.readers.size() - 1 - k, false);
            }
        }
        std::fprintf(stderr, " %d", round + 1);
    }
    std::fprintf(stderr, "\n");

    // What each reader costs on an empty body, and the system calls.
    for (Row& row : rows) {
        for (size_t r = 0; r < row.readers.size(); ++r) {
            Samples& s = row.samples[r];
            std::vector<double> emptyCpu;
            std::vector<double> calls;
            for (int i = 0; i < runs; ++i) emptyCpu.push_back(Run(row.readers[r].command(row.emptySource), false).cpu);
            s.emptyCpu = Median(emptyCpu);
            if (!havePerf) continue;
            std::vector<double> emptyCalls;
            for (int i = 0; i < kCountRuns; ++i) {
                calls.push_back(static_cast<double>(Run(row.readers[r].command(row.source), true).calls));
                emptyCalls.push_back(static_cast<double>(Run(row.readers[r].command(row.emptySource), true).calls));
            }
            s.calls = static_cast<long long>(Median(calls) - Median(emptyCalls));
        }
    }
    const std::string loadAfter = LoadAverage();
    Cleanup();

    // ---- the table ----
    std::printf("nilo against references, medians of %d alternating rounds (ratios below 1: nilo takes less)\n",
                runs);
    std::printf("load average (1, 5, 15 min): %s before, %s after\n\n", loadBefore.c_str(), loadAfter.c_str());
    const size_t curl = haveCurl ? 1 : 0;
    const size_t floor = haveCurl ? 2 : 1;
    std::printf("%-28s %10s %10s %10s   %-24s\n", "HTTP on loopback", "time", "time", "cpu", "system calls per MiB");
    std::printf("%-28s %10s %10s %10s   %7s %7s %7s\n", "(64 KiB GetData buffer)", "nilo/curl", "nilo/floor",
                "nilo/curl", "nilo", "curl", "floor");
    for (size_t i = 0; i < kHttpRows; ++i) {
        const Row& row = rows[i];
        std::printf("%-28s %10s %10s %10s   %7s %7s %7s\n", row.title.c_str(),
                    haveCurl ? Cell(RoundRatio(row, curl, false)).c_str() : "n/a",
                    Cell(RoundRatio(row, floor, false)).c_str(),
                    haveCurl ? Cell(RoundRatio(row, curl, true)).c_str() : "n/a", CallsPerMiB(row, 0).c_str(),
                    haveCurl ? CallsPerMiB(row, curl).c_str() : "n/a", CallsPerMiB(row, floor).c_str());
    }
    std::printf("\n%-28s %10s %10s %10s   %7s %7s\n", "file (256 MiB, page cache)", "time", "", "", "nilo",
                "read()");
    std::printf("%-28s %10s %10s %10s\n", "", "nilo/read()", "", "");
    for (size_t i = kHttpRows; i < rows.size(); ++i) {
        const Row& row = rows[i];
        std::printf("%-28s %10s %10s %10s   %7s %7s\n", row.title.c_str(), Cell(RoundRatio(row, 1, false)).c_str(), "",
                    "", CallsPerMiB(row, 0).c_str(), CallsPerMiB(row, 1).c_str());
    }

    // The medians behind the ratios, for reference.
    std::printf("\nmedians: time (ms) / cpu less the empty body's (ms)\n");
    for (const Row& row : rows) {
        std::printf("  %-28s", row.title.c_str());
        for (size_t r = 0; r < row.readers.size(); ++r) {
            const Samples& s = row.samples[r];
            std::printf("  %s %.1f / %.1f", row.readers[r].name.c_str(), Median(s.seconds) * 1000,
                        (Median(s.cpu) - s.emptyCpu) * 1000);
        }
        std::printf("\n");
    }
    auto perPart = [&](const Samples& s) { return (Median(s.cpu) - s.emptyCpu) / kParts * 1e6; };
    if (haveCurl) {
        const Row& parts = rows[1];
        std::printf("  cpu per part: nilo %.1f us, curl %.1f us, floor %.1f us\n", perPart(parts.samples[0]),
                    perPart(parts.samples[curl]), perPart(parts.samples[floor]));
    }
    // The same parts through the chunked layer first, for nilo.
    const Samples& plainParts = rows[1].samples[0];
    const Samples& chunkedParts = rows[2].samples[0];
    std::printf("  nilo, chunked parts against plain: %.0f against %.0f parts/s, cpu per part %.1f against %.1f us\n",
                kParts / Median(chunkedParts.seconds), kParts / Median(plainParts.seconds), perPart(chunkedParts),
                perPart(plainParts));
    if (!haveCurl) std::printf("\ncurl is not installed: its columns are left out\n");
    if (!havePerf) std::printf("\nperf stat cannot count raw_syscalls:sys_enter here: no system call counts\n");
    return 0;
}
