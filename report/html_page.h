// The parts of the report's HTML pages that the report and the comparison
// share.
#pragma once

#include <string>
#include <vector>

#include "runs.h"

// A table cell holding html (already escaped), with a class when cls is set.
std::string html_cell(const std::string &html, const char *cls = nullptr);

// A header row of names (plain text).
std::string html_header_row(const std::vector<const char *> &names);

// The page's head, its style, and the start of its body: the title (already
// escaped) as heading and a paragraph of intro (already escaped).
void start_html_page(const std::string &title, const std::string &intro, std::string *out);

// A drive's figures as a table of two columns (what, and its value), headed
// by label (plain text), with blockmeter's warnings and the device first.
void write_html_figures(const std::string &label, const drive_group *group, std::string *out);
