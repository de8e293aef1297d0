// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class ProjectEntity;

enum class ShowFormat { Table, Json, Csv };

// Prints the project in `format`; a signal while printing still stops the
// command. Returns the exit code.
int show(const ProjectEntity &project, ShowFormat format);
