// SPDX-License-Identifier: GPL-3.0-or-later
// tando-bench review: `diff` of each archive against the benchmark's edit of
// it and `check` of it, timed in alternating rounds against their floors:
// for diff, decoding both archives (igzip -dc of each, one after the other);
// for check, `show` of the same archive.

#include "benchtools.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace bench {

namespace {

struct ReviewTargets
{
    double diff = 0, check = 0;
    long peakKiB = 0;
};

const ReviewTargets *reviewTargetsFor(const std::string &size)
{
    static const ReviewTargets large{1.5, 1.5, 96 * 1024};
    return size == "large" ? &large : nullptr;
}

struct ReviewTimes
{
    std::vector<double> floor, diff, show, check;
    long diffPeak = 0, checkPeak = 0;
};

ReviewTimes timeReview(const std::string &tool, const std::string &archive, const std::string &edited, int rounds)
{
    ReviewTimes t;
    for (int r = 0; r < rounds; ++r) {
        auto timeFloor = [&] {
            t.floor.push_back(shell("igzip -dc " + quoted(archive) + " > /dev/null && igzip -dc " + quoted(edited)
                                    + " > /dev/null").seconds);
        };
        auto timeDiff = [&] {
            const Run d = runCommand({tool, "diff", archive, edited}, true, 1);
            t.diff.push_back(d.seconds);
            t.diffPeak = std::max(t.diffPeak, d.peakKiB);
        };
        auto timeShow = [&] { t.show.push_back(runCommand({tool, "show", archive}).seconds); };
        auto timeCheck = [&] {
            const Run c = runCommand({tool, "check", archive}, true, 1);
            t.check.push_back(c.seconds);
            t.checkPeak = std::max(t.checkPeak, c.peakKiB);
        };
        if (r % 2 == 0) {
            timeFloor(); timeDiff(); timeShow(); timeCheck();
        } else {
            timeCheck(); timeShow(); timeDiff(); timeFloor();
        }
    }
    return t;
}

// The lines of the diff, and how many of them are about entries: the
// benchmark's edit changes settings, devices and profiles, nothing else.
void countDiffLines(const std::string &tool, const std::string &archive, const std::string &edited, int *lines,
                    int *entryLines)
{
    std::istringstream text(capture(quoted(tool) + " diff " + quoted(archive) + " " + quoted(edited) + "; true"));
    *lines = *entryLines = 0;
    for (std::string line; std::getline(text, line);) {
        ++*lines;
        *entryLines += line.rfind("entry ", 0) == 0 ? 1 : 0;
    }
}

} // namespace

int runReviewBench(const std::string &self, const std::string &tool, const std::string &work, int rounds,
                   const std::vector<std::string> &sizeNames, unsigned long long seed)
{
    makeDirs(work);
    std::printf("%-7s | %9s %8s %6s | %8s %8s %6s | %9s %9s | %6s %6s\n", "size", "2x igzip", "diff", "ratio", "show",
                "check", "ratio", "diff KiB", "check KiB", "lines", "entry");
    std::fflush(stdout);
    std::vector<std::string> failures;
    for (const std::string &name : sizeNames) {
        const SizeProfile *profile = sizeNamed(name);
        if (!profile)
            die("unknown size " + name);
        const std::string base = work + "/" + name + "-" + std::to_string(seed);
        const std::string archive = makeArchive(self, base, name, seed);
        const std::string edited = base + ".review.tgz";
        runCommand(benchEdit(tool, archive, edited, *profile));
        int lines = 0, entryLines = 0;
        countDiffLines(tool, archive, edited, &lines, &entryLines);
        const ReviewTimes t = timeReview(tool, archive, edited, rounds);
        shell("rm -f " + quoted(edited));
        const double floor = median(t.floor), diff = median(t.diff), show = median(t.show), check = median(t.check);
        std::printf("%-7s | %8.3fs %7.3fs %6.2f | %7.3fs %7.3fs %6.2f | %9ld %9ld | %6d %6d\n", name.c_str(), floor, diff,
                    diff / floor, show, check, check / show, t.diffPeak, t.checkPeak, lines, entryLines);
        std::fflush(stdout);
        if (entryLines != 0)
            failures.push_back(name + ": the diff of the edit lists " + std::to_string(entryLines) + " entries");
        const ReviewTargets *targets = reviewTargetsFor(name);
        if (!targets)
            continue;
        if (diff / floor > targets->diff)
            failures.push_back(name + ": diff takes " + std::to_string(diff / floor) + " x its floor");
        if (check / show > targets->check)
            failures.push_back(name + ": check takes " + std::to_string(check / show) + " x show");
        if (t.diffPeak >= targets->peakKiB)
            failures.push_back(name + ": peak RSS of diff " + std::to_string(t.diffPeak) + " KiB");
    }
    std::printf("(%d rounds, seed %llu; medians of whole processes; diff of the archive and the benchmark's edit of it "
                "against igzip -dc of both; check against show)\n", rounds, seed);
    for (const std::string &failure : failures)
        std::printf("target missed: %s\n", failure.c_str());
    return failures.empty() ? 0 : 1;
}

} // namespace bench
