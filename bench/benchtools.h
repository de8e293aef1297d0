// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the parts of tando-bench share: the generated sizes, running and
// timing whole processes, the archives and the edit under test.

#include <string>
#include <vector>

namespace bench {

struct SizeProfile
{
    const char *name = "";
    int devices = 0;
    long long otherBytes = 0; // firmware and logs together, half of each
};

const SizeProfile *sizeNamed(const std::string &name);

[[noreturn]] void die(const std::string &message);
void makeDirs(const std::string &path);

struct Run
{
    double seconds = 0;
    long peakKiB = 0;
    int status = 0;
};

// Runs argv to its end, standard output to /dev/null when quiet; any exit
// status but 0 and allowedStatus ends the benchmark.
Run runCommand(const std::vector<std::string> &argv, bool quiet = true, int allowedStatus = 0);
Run shell(const std::string &command);
std::string quoted(const std::string &path);
double median(std::vector<double> v);
std::string capture(const std::string &command);

// The archive of a size and seed, generated and packed with tar and gzip -6
// the first time.
std::string makeArchive(const std::string &self, const std::string &base, const std::string &name,
                        unsigned long long seed);

// The edit every store is timed with: a new name, one Tando device
// re-addressed, one KSB12 device relabelled.
std::vector<std::string> benchEdit(const std::string &tool, const std::string &archive, const std::string &out,
                                   const SizeProfile &size);

// diff and check against their floors (reviewbench.cpp).
int runReviewBench(const std::string &self, const std::string &tool, const std::string &work, int rounds,
                   const std::vector<std::string> &sizeNames, unsigned long long seed);

} // namespace bench
