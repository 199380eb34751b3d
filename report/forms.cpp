#include "forms.h"

#include "output.h"
#include "output_compare.h"

static int write_svg_image(const std::vector<report_input> *inputs, report_sink *out, std::string *why) {
  return write_svg(inputs, true, out, why);
}

// The CSV and the charts have no place for a note; the others carry it with the rows.
const report_form report_forms[] = {
    {nullptr, write_summary, nullptr, nullptr, write_compare_text, true},
    {"--csv", write_csv, write_csv_header, write_csv_rows, write_compare_csv, false},
    {"--json", write_json, nullptr, nullptr, write_compare_json, true},
    {"--svg", write_svg_image, nullptr, nullptr, write_compare_svg, false},
    {"--html", write_html, nullptr, nullptr, write_compare_html, true},
};
const size_t report_form_count = sizeof report_forms / sizeof report_forms[0];

const report_form *default_form() { return &report_forms[0]; }

const report_form *find_form(const std::string &option) {
  for (const report_form &form : report_forms)
    if (form.option != nullptr && option == form.option) return &form;
  return nullptr;
}
