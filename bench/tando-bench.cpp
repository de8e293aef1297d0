// SPDX-License-Identifier: GPL-3.0-or-later
// tando-bench: generates project archives of four sizes and times the
// command-line tool against the machine's floor for the same work (decoding,
// compressing, listing) on the same archives.
//
//   tando-bench generate SIZE SEED DIR     writes the project tree of SIZE into DIR
//   tando-bench run TOOL WORKDIR [ROUNDS] [SIZES] [SEED]
//   tando-bench review TOOL WORKDIR [ROUNDS] [SIZES] [SEED]   diff and check, see reviewbench.cpp
//
// Times are wall-clock medians over the rounds; the tar runs and ours alternate
// within a round, so load from other users of the machine falls on both.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "benchtools.h"

namespace bench {

namespace {

const SizeProfile sizes[] = {
    {"small", 20, 200LL * 1000},
    {"medium", 200, 20LL * 1000 * 1000},
    {"large", 1000, 200LL * 1000 * 1000},
    {"huge", 10000, 20LL * 1000 * 1000}, // many devices, little else: for the editor's table
};

} // namespace

const SizeProfile *sizeNamed(const std::string &name)
{
    for (const SizeProfile &s : sizes) {
        if (name == s.name)
            return &s;
    }
    return nullptr;
}

[[noreturn]] void die(const std::string &message)
{
    std::fprintf(stderr, "tando-bench: %s\n", message.c_str());
    std::exit(1);
}

void makeDirs(const std::string &path)
{
    std::string partial;
    std::stringstream parts(path);
    std::string part;
    if (!path.empty() && path[0] == '/')
        partial = "/";
    while (std::getline(parts, part, '/')) {
        if (part.empty())
            continue;
        partial += part + "/";
        if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST)
            die("cannot create " + partial + ": " + std::strerror(errno));
    }
}

void writeFile(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out)
        die("cannot write " + path);
}

// ------------------------------------------------------------------ generator

struct Device
{
    bool tando = false;
    std::string mac; // colon form
    std::string label;
};

std::string macFor(bool tando, int index)
{
    char text[18];
    std::snprintf(text, sizeof text, "%s:%02x:%02x:%02x", tando ? "00:1a:2b" : "00:1b:3c", (index >> 16) & 0xff,
                  (index >> 8) & 0xff, index & 0xff);
    return text;
}

std::string randomBytes(std::mt19937_64 &rng, long long size)
{
    std::string bytes(size_t(size), '\0');
    size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        const unsigned long long v = rng();
        std::memcpy(&bytes[i], &v, 8);
    }
    for (; i < bytes.size(); ++i)
        bytes[i] = char(rng());
    return bytes;
}

// Log lines as devices write them: timestamps, levels, a few dozen message
// shapes with changing numbers and peer addresses.
std::string logText(std::mt19937_64 &rng, long long size, const std::vector<Device> &devices)
{
    static const char *const levels[] = {"INFO ", "INFO ", "INFO ", "DEBUG", "WARN ", "ERROR"};
    static const char *const modules[] = {"dsp", "net", "ptp", "ui", "amp", "fan", "psu", "dante", "cfg", "fw"};
    static const char *const messages[] = {
        "level changed ch=%u gain=%d.%udB",     "link up speed=%u Mbit/s duplex=full",
        "peer %s answered in %u ms",             "clock offset %d ns, path delay %u ns",
        "temperature %u.%u C, fan at %u rpm",     "preset %u recalled by %s",
        "packet loss %u of %u frames from %s",   "mute ch=%u state=%u",
        "config saved, %u bytes, crc %08x",      "voltage rail %u at %u mV",
        "subscription to %s renewed, lease %u s", "limiter engaged ch=%u threshold %d dB",
    };
    std::string text;
    text.reserve(size_t(size) + 256);
    unsigned long long t = 1767225600000ULL + rng() % 86400000ULL;
    while ((long long)text.size() < size) {
        t += rng() % 5000;
        const time_t seconds = time_t(t / 1000);
        struct tm tm {};
        gmtime_r(&seconds, &tm);
        char stamp[40];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
        const Device &peer = devices[rng() % devices.size()];
        char message[160];
        const unsigned a = unsigned(rng() % 64), b = unsigned(rng() % 1000), c = unsigned(rng() % 100000);
        switch (rng() % 12) {
        case 0: std::snprintf(message, sizeof message, messages[0], a, -int(b % 60), b % 10); break;
        case 1: std::snprintf(message, sizeof message, messages[1], a % 2 ? 1000u : 100u); break;
        case 2: std::snprintf(message, sizeof message, messages[2], peer.mac.c_str(), b % 40); break;
        case 3: std::snprintf(message, sizeof message, messages[3], int(c) - 50000, b); break;
        case 4: std::snprintf(message, sizeof message, messages[4], 30 + a % 40, b % 10, 800 + c % 3000); break;
        case 5: std::snprintf(message, sizeof message, messages[5], a, peer.mac.c_str()); break;
        case 6: std::snprintf(message, sizeof message, messages[6], a, b + 1000, peer.mac.c_str()); break;
        case 7: std::snprintf(message, sizeof message, messages[7], a, b % 2); break;
        case 8: std::snprintf(message, sizeof message, messages[8], c, unsigned(rng())); break;
        case 9: std::snprintf(message, sizeof message, messages[9], a % 8, 3300 + b % 200); break;
        case 10: std::snprintf(message, sizeof message, messages[10], peer.mac.c_str(), 60 + b); break;
        default: std::snprintf(message, sizeof message, messages[11], a, -int(b % 20)); break;
        }
        char line[256];
        std::snprintf(line, sizeof line, "%s.%03u [%s] %s: %s\n", stamp, unsigned(t % 1000), levels[rng() % 6],
                      modules[rng() % 10], message);
        text += line;
    }
    text.resize(size_t(size));
    return text;
}

void generate(const SizeProfile &profile, unsigned long long seed, const std::string &root)
{
    std::mt19937_64 rng(seed);
    std::vector<Device> devices;
    for (int i = 0; i < profile.devices; ++i) {
        const bool tando = i % 4 != 3; // three of four are Tando devices
        Device d;
        d.tando = tando;
        d.mac = macFor(tando, i + 1);
        d.label = (tando ? "Unit " : "Amp ") + std::to_string(i + 1);
        devices.push_back(d);
    }

    const std::string ap = root + "/active-project";
    makeDirs(ap + "/devices/tando");
    makeDirs(ap + "/devices/ksb12");
    writeFile(ap + "/project.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<project>\n  <name>Bench "
                                       + std::string(profile.name) + "</name>\n  <author>Bench</author>\n"
                                       "  <description>Generated with seed " + std::to_string(seed)
                                       + "</description>\n</project>\n");

    const long long perDevice = profile.otherBytes / profile.devices / 2; // of each kind, on average
    for (const Device &d : devices) {
        const std::string dir = ap + "/devices/" + (d.tando ? "tando/" : "ksb12/") + d.mac;
        makeDirs(dir + "/logs");
        if (d.tando) {
            writeFile(dir + "/prefs", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<prefs>\n  <UnitName>" + d.label
                                          + "</UnitName>\n  <Mode>stage</Mode>\n</prefs>\n");
            makeDirs(dir + "/profiles");
            for (int p = 1; p <= 3; ++p) {
                std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<profile>\n";
                const int peers = 6 + int(rng() % 5); // about eight
                for (int k = 0; k < peers; ++k) {
                    const Device &peer = devices[rng() % devices.size()];
                    xml += "  <unit>\n    <mac>" + peer.mac + "</mac>\n    <unitname>" + peer.label
                           + "</unitname>\n    <gain>" + std::to_string(int(rng() % 24) - 12) + "</gain>\n  </unit>\n";
                }
                xml += "</profile>\n";
                writeFile(dir + "/profiles/profile-" + std::to_string(p) + ".xml", xml);
            }
        } else {
            std::string prefs = d.label;
            prefs.resize(16, '\0');
            prefs += randomBytes(rng, 240);
            writeFile(dir + "/prefs", prefs);
        }
        // Sizes vary between half and one and a half times the average.
        const long long firmware = perDevice / 2 + (long long)(rng() % (unsigned long long)(perDevice + 1));
        const long long log = perDevice / 2 + (long long)(rng() % (unsigned long long)(perDevice + 1));
        writeFile(dir + "/firmware.bin", randomBytes(rng, firmware));
        writeFile(dir + "/logs/system.log", logText(rng, log, devices));
    }
}

// -------------------------------------------------------------------- runner

Run runCommand(const std::vector<std::string> &argv, bool quiet, int allowedStatus)
{
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0)
        die("fork failed");
    if (pid == 0) {
        if (quiet) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
        }
        ::execvp(args[0], args.data());
        std::perror(args[0]);
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (::wait4(pid, &status, 0, &usage) < 0)
        die("wait4 failed");
    Run run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKiB = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    if (run.status != 0 && run.status != allowedStatus) {
        std::string line;
        for (const std::string &a : argv)
            line += a + " ";
        die("command failed (" + std::to_string(run.status) + "): " + line);
    }
    return run;
}

Run shell(const std::string &command)
{
    return runCommand({"/bin/sh", "-c", command}, false);
}

std::string quoted(const std::string &path)
{
    std::string q = "'";
    for (char c : path)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

long long fileSize(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (long long)st.st_size : -1;
}

std::string capture(const std::string &command)
{
    std::string out;
    FILE *p = ::popen(command.c_str(), "r");
    if (!p)
        die("popen failed");
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
        out.append(buffer, n);
    if (::pclose(p) != 0)
        die("command failed: " + command);
    return out;
}

// One tool under comparison: a label and the tando-project binary.
struct Tool
{
    std::string label;
    std::string path;
    std::vector<double> show, edit;
    long showPeak = 0, editPeak = 0;
};

// The targets the large project must meet (the first tool is the one checked).
// The targets, against what the machine needs at least for the same work:
// decoding the archive (igzip -dc) and, for a store, compressing the tar
// again (pigz -6 on two threads); for the project of many small entries,
// listing it with tar -tzf.
struct Targets
{
    double show = 0, edit = 0;
    long peakKiB = 0;
};
const Targets *targetsFor(const std::string &size)
{
    static const Targets large{2.0, 1.2, 64 * 1024};
    static const Targets huge{3.0, 4.0, 160 * 1024};
    return size == "large" ? &large : size == "huge" ? &huge : nullptr;
}
// Projects of many small entries are measured against a listing of them.
bool listingFloor(const std::string &size)
{
    return size == "huge";
}

std::vector<std::string> benchEdit(const std::string &tool, const std::string &archive, const std::string &out,
                                   const SizeProfile &size)
{
    const std::string tandoMac = macFor(true, 1);
    const std::string ksbMac = macFor(false, size.devices >= 4 ? 4 : 1);
    return {tool, "edit", archive, "-o", out, "--name", "Edited", "--mac", tandoMac + "=3c:4d:ff", "--label", ksbMac + "=Renamed"};
}

std::string makeArchive(const std::string &self, const std::string &base, const std::string &name,
                        unsigned long long seed)
{
    const std::string archive = base + ".tgz";
    if (fileSize(archive) <= 0) {
        shell("rm -rf " + quoted(base + ".tree"));
        runCommand({self, "generate", name, std::to_string(seed), base + ".tree"});
        shell("tar -C " + quoted(base + ".tree") + " -cf - active-project | gzip -6 > " + quoted(archive + ".part")
              + " && mv " + quoted(archive + ".part") + " " + quoted(archive) + " && rm -rf " + quoted(base + ".tree"));
    }
    return archive;
}

// The stored archive is one gzip member that the system's tools accept; its
// size against gzip -6 of the same tar.
double checkedSizeRatio(const std::string &out)
{
    shell("gzip -t " + quoted(out) + " && tar -tzf " + quoted(out) + " > /dev/null");
    const long long gz6 = std::stoll(capture("gzip -dc " + quoted(out) + " | gzip -6 | wc -c"));
    const double ratio = double(fileSize(out)) / double(gz6);
    shell("rm -f " + quoted(out));
    return ratio;
}

// Loading and storing need no temporary space: both work with TMPDIR on a
// 1 MiB tmpfs (checked where one can be mounted, that is as root).
std::string tinyTmpProblem(const std::string &tool, const std::string &archive, const std::string &base)
{
    const std::string tiny = base + ".tiny-tmp";
    makeDirs(tiny);
    if (::geteuid() != 0 || std::system(("mount -t tmpfs -o size=1m tmpfs " + quoted(tiny) + " 2>/dev/null").c_str()) != 0) {
        ::rmdir(tiny.c_str());
        return "";
    }
    const std::string env = "TMPDIR=" + quoted(tiny) + " ";
    const std::string out = base + ".tiny-out.tgz";
    std::string problem;
    if (std::system((env + quoted(tool) + " show " + quoted(archive) + " >/dev/null 2>&1").c_str()) != 0)
        problem = "show fails with TMPDIR on a 1 MiB tmpfs";
    else if (std::system((env + quoted(tool) + " edit " + quoted(archive) + " -o " + quoted(out)
                          + " --name Tiny >/dev/null 2>&1").c_str()) != 0)
        problem = "edit fails with TMPDIR on a 1 MiB tmpfs";
    std::system(("umount " + quoted(tiny) + "; rmdir " + quoted(tiny) + "; rm -f " + quoted(out)).c_str());
    return problem;
}

int run(const std::string &self, std::vector<Tool> tools, const std::string &work, int rounds,
        const std::vector<std::string> &sizeNames, unsigned long long seed)
{
    makeDirs(work);
    std::printf("%-7s %-7s %7s %8s | %8s %8s %6s | %8s %8s %6s | %9s %9s | %8s\n", "size", "tool", "entries", "tar MB",
                "floor", "show", "ratio", "floor", "edit", "ratio", "show KiB", "edit KiB", "out/gz6");
    std::fflush(stdout);
    std::vector<std::string> failures;
    for (const std::string &name : sizeNames) {
        const SizeProfile *profile = sizeNamed(name);
        if (!profile)
            die("unknown size " + name);
        const std::string base = work + "/" + name + "-" + std::to_string(seed);
        const std::string archive = makeArchive(self, base, name, seed);
        const long long tarBytes = std::stoll(capture("gzip -dc " + quoted(archive) + " | wc -c"));
        const long entries = std::stol(capture("tar -tzf " + quoted(archive) + " | wc -l"));

        const std::string out = base + ".out.tgz";
        auto editArgs = [&](const Tool &tool) { return benchEdit(tool.path, archive, out, *profile); };
        const std::string repacked = base + ".repacked.tgz";
        const bool listing = listingFloor(name);

        std::vector<double> showFloor, editFloor;
        for (Tool &tool : tools) {
            tool.show.clear();
            tool.edit.clear();
            tool.showPeak = tool.editPeak = 0;
        }
        for (int r = 0; r < rounds; ++r) {
            auto timeShowFloor = [&] {
                showFloor.push_back(listing ? runCommand({"tar", "-tzf", archive}).seconds
                                            : shell("igzip -dc " + quoted(archive) + " > /dev/null").seconds);
            };
            auto timeShow = [&] {
                for (Tool &tool : tools) {
                    const Run s = runCommand({tool.path, "show", archive});
                    tool.show.push_back(s.seconds);
                    tool.showPeak = std::max(tool.showPeak, s.peakKiB);
                }
            };
            auto timeEditFloor = [&] {
                editFloor.push_back(listing ? runCommand({"tar", "-tzf", archive}).seconds
                                            : shell("igzip -dc " + quoted(archive) + " | pigz -6 -p 2 > "
                                                    + quoted(repacked) + " && sync " + quoted(repacked)).seconds);
            };
            auto timeEdit = [&] {
                for (Tool &tool : tools) {
                    const Run e = runCommand(editArgs(tool));
                    tool.edit.push_back(e.seconds);
                    tool.editPeak = std::max(tool.editPeak, e.peakKiB);
                }
            };
            if (r % 2 == 0) {
                timeShowFloor(); timeShow(); timeEditFloor(); timeEdit();
            } else {
                timeEdit(); timeEditFloor(); timeShow(); timeShowFloor();
            }
        }
        shell("rm -f " + quoted(repacked));

        const double mx = median(showFloor), mxc = median(editFloor);
        const Targets *targets = targetsFor(name);
        for (const Tool &tool : tools) {
            // A new file: an existing one would keep its mode.
            shell("rm -f " + quoted(out));
            runCommand(editArgs(tool));
            // The stored archive honours the umask.
            struct stat st {};
            const mode_t mask = ::umask(0);
            ::umask(mask);
            if (::stat(out.c_str(), &st) != 0 || (st.st_mode & 0777) != (0666 & ~mask)) {
                char mode[64];
                std::snprintf(mode, sizeof mode, "stored archive has mode %03o under umask %03o",
                              unsigned(st.st_mode & 0777), unsigned(mask));
                if (&tool == &tools.front())
                    failures.push_back(name + ": " + mode);
                else
                    std::printf("(%s, %s: %s)\n", name.c_str(), tool.label.c_str(), mode);
            }
            const double sizeRatio = checkedSizeRatio(out);
            const double ms = median(tool.show), me = median(tool.edit);
            std::printf("%-7s %-7s %7ld %8.1f | %7.3fs %7.3fs %6.2f | %7.3fs %7.3fs %6.2f | %9ld %9ld | %8.3f\n",
                        name.c_str(), tool.label.c_str(), entries, double(tarBytes) / 1e6, mx, ms, ms / mx, mxc, me,
                        me / mxc, tool.showPeak, tool.editPeak, sizeRatio);
            std::fflush(stdout);
            if (!targets || &tool != &tools.front())
                continue;
            // From here on: the targets of the tool under test.
            if (ms / mx > targets->show)
                failures.push_back(name + ": show takes " + std::to_string(ms / mx) + " x its floor");
            if (me / mxc > targets->edit)
                failures.push_back(name + ": edit takes " + std::to_string(me / mxc) + " x its floor");
            if (std::max(tool.showPeak, tool.editPeak) >= targets->peakKiB)
                failures.push_back(name + ": peak RSS " + std::to_string(std::max(tool.showPeak, tool.editPeak)) + " KiB");
            if (const std::string problem = tinyTmpProblem(tool.path, archive, base); !problem.empty())
                failures.push_back(name + ": " + problem);
        }
    }
    std::printf("(%d rounds, seed %llu; times are medians of whole processes; floor: igzip -dc for show, igzip -dc | "
                "pigz -6 -p 2 and sync for edit; tar -tzf for both on huge)\n", rounds, seed);
    for (const std::string &failure : failures)
        std::printf("target missed (%s): %s\n", tools.front().label.c_str(), failure.c_str());
    return failures.empty() ? 0 : 1;
}

// The editor's targets, against the command-line tool's show of the same
// archive measured in the same rounds.
constexpr double MaxTableRatio = 1.3;
constexpr double MaxHugeTableSeconds = 2.0;
constexpr long long MaxGapMs = 100;
constexpr long MaxEditorGrowthKiB = 40 * 1024;
// Resident memory from the first reload of a project to the sixth.
constexpr long MaxReloadGrowthKiB = 8 * 1024;

struct EditorRun
{
    double table = 0, store = 0;
    long long gapLoad = 0, gapStore = 0;
    long startKiB = 0, peakKiB = 0;
    int rows = 0, lastRowShown = 0;
    long firstReloadKiB = 0, lastReloadKiB = 0;
};

EditorRun runEditor(const std::string &editorBench, const std::string &archive, const std::string &out)
{
    const std::string line = capture(quoted(editorBench) + " " + quoted(archive) + " " + quoted(out) + " 2>/dev/null");
    EditorRun r;
    if (std::sscanf(line.c_str(),
                    "table %lf store %lf gap-load %lld gap-store %lld start-kib %ld peak-kib %ld rows %d last-row-shown %d "
                    "reload-kib %ld %ld",
                    &r.table, &r.store, &r.gapLoad, &r.gapStore, &r.startKiB, &r.peakKiB, &r.rows, &r.lastRowShown,
                    &r.firstReloadKiB, &r.lastReloadKiB)
        != 10)
        die("unexpected editor benchmark output: " + line);
    return r;
}

int runEditorBench(const std::string &self, const std::string &editorBench, const std::string &tool,
                   const std::string &work, int rounds, unsigned long long seed)
{
    makeDirs(work);
    std::printf("%-6s %6s | %8s %8s %6s | %8s | %7s %7s | %9s %9s %6s | %8s | %s\n", "size", "rows", "show", "table", "ratio",
                "store", "gap ld", "gap st", "start KiB", "peak KiB", "+MiB", "reload+", "last row");
    std::vector<std::string> failures;
    for (const std::string name : {"large", "huge"}) {
        const std::string base = work + "/" + name + "-" + std::to_string(seed);
        const std::string archive = makeArchive(self, base, name, seed);
        const std::string out = base + ".editor-out.tgz";
        std::vector<double> show, table, store;
        EditorRun worst;
        long reloadGrowth = 0; // KiB from the first reload to the last, the worst round
        for (int r = 0; r < rounds; ++r) {
            auto timeShow = [&] { show.push_back(runCommand({tool, "show", archive}, true).seconds); };
            auto timeEditor = [&] {
                const EditorRun e = runEditor(editorBench, archive, out);
                table.push_back(e.table);
                store.push_back(e.store);
                worst.gapLoad = std::max(worst.gapLoad, e.gapLoad);
                worst.gapStore = std::max(worst.gapStore, e.gapStore);
                worst.startKiB = e.startKiB;
                worst.peakKiB = std::max(worst.peakKiB, e.peakKiB);
                worst.rows = e.rows;
                worst.lastRowShown = e.lastRowShown;
                reloadGrowth = std::max(reloadGrowth, e.lastReloadKiB - e.firstReloadKiB);
            };
            if (r % 2 == 0) {
                timeShow(); timeEditor();
            } else {
                timeEditor(); timeShow();
            }
        }
        checkedSizeRatio(out);
        const double ratio = median(table) / median(show);
        const long growth = worst.peakKiB - worst.startKiB;
        std::printf("%-6s %6d | %7.3fs %7.3fs %6.2f | %7.3fs | %5lldms %5lldms | %9ld %9ld %6.1f | %6.1fMiB | %s\n",
                    name.c_str(), worst.rows, median(show), median(table), ratio, median(store), worst.gapLoad,
                    worst.gapStore, worst.startKiB, worst.peakKiB, growth / 1024.0, reloadGrowth / 1024.0,
                    worst.lastRowShown ? "shown" : "NOT shown");
        std::fflush(stdout);
        if (!worst.lastRowShown)
            failures.push_back(name + ": the last row was not shown");
        if (std::max(worst.gapLoad, worst.gapStore) > MaxGapMs)
            failures.push_back(name + ": the window went " + std::to_string(std::max(worst.gapLoad, worst.gapStore))
                               + " ms without processing events");
        if (name == "huge" && median(table) > MaxHugeTableSeconds)
            failures.push_back("huge: the table took " + std::to_string(median(table)) + " s");
        if (name == "large" && ratio > MaxTableRatio)
            failures.push_back("large: the table took " + std::to_string(ratio) + " x show");
        if (reloadGrowth > MaxReloadGrowthKiB)
            failures.push_back(name + ": resident memory grew " + std::to_string(reloadGrowth / 1024)
                               + " MiB over five reloads");
        if (name == "large" && growth > MaxEditorGrowthKiB)
            failures.push_back("large: peak memory " + std::to_string(growth / 1024) + " MiB above the start screen");
    }
    std::printf("(%d rounds, seed %llu; medians; gaps and memory are the worst of the rounds)\n", rounds, seed);
    for (const std::string &failure : failures)
        std::printf("target missed: %s\n", failure.c_str());
    return failures.empty() ? 0 : 1;
}

std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, separator)) {
        if (!part.empty())
            parts.push_back(part);
    }
    return parts;
}

} // namespace bench

int main(int argc, char *argv[])
{
    using namespace bench;
    const std::string usage = "usage: tando-bench generate SIZE SEED DIR\n"
                              "       tando-bench run TOOL[,LABEL=TOOL...] WORKDIR [ROUNDS] [SIZES] [SEED]\n"
                              "       tando-bench editor EDITOR_BENCH TOOL WORKDIR [ROUNDS] [SEED]\n"
                              "       tando-bench review TOOL WORKDIR [ROUNDS] [SIZES] [SEED]";
    if (argc >= 5 && std::string(argv[1]) == "generate") {
        const SizeProfile *profile = sizeNamed(argv[2]);
        if (!profile)
            die(std::string("unknown size ") + argv[2]);
        generate(*profile, std::stoull(argv[3]), argv[4]);
        return 0;
    }
    if (argc >= 4 && std::string(argv[1]) == "run") {
        const int rounds = argc > 4 ? std::atoi(argv[4]) : 5;
        const std::vector<std::string> names = split(argc > 5 ? argv[5] : "small,medium,large,huge", ',');
        const unsigned long long seed = argc > 6 ? std::stoull(argv[6]) : 1;
        // The first tool is the one checked; others (LABEL=PATH) are timed in
        // the same rounds for comparison, e.g. an earlier build.
        std::vector<Tool> tools;
        for (const std::string &item : split(argv[2], ',')) {
            const size_t eq = item.find('=');
            tools.push_back(eq == std::string::npos ? Tool{"now", item, {}, {}, 0, 0}
                                                    : Tool{item.substr(0, eq), item.substr(eq + 1), {}, {}, 0, 0});
        }
        return run("/proc/self/exe", tools, argv[3], rounds < 1 ? 1 : rounds, names, seed);
    }
    if (argc >= 4 && std::string(argv[1]) == "review") {
        const int rounds = argc > 4 ? std::atoi(argv[4]) : 5;
        const std::vector<std::string> names = split(argc > 5 ? argv[5] : "large", ',');
        const unsigned long long seed = argc > 6 ? std::stoull(argv[6]) : 1;
        return runReviewBench("/proc/self/exe", argv[2], argv[3], rounds < 1 ? 1 : rounds, names, seed);
    }
    if (argc >= 5 && std::string(argv[1]) == "editor") {
        const int rounds = argc > 5 ? std::atoi(argv[5]) : 3;
        const unsigned long long seed = argc > 6 ? std::stoull(argv[6]) : 1;
        return runEditorBench("/proc/self/exe", argv[2], argv[3], argv[4], rounds < 1 ? 1 : rounds, seed);
    }
    std::fprintf(stderr, "%s\n", usage.c_str());
    return 2;
}
