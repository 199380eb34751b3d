#include "modes.h"

#include "messages.h"
#include "output_compare.h"
#include "read_inputs.h"
#include "report_output.h"

static std::string output_name(const report_options *options) {
  return options->output == nullptr ? "standard output" : options->output;
}

// Opens where the report goes, the sink writing there. Returns 0, or -1
// after telling why.
static int open_output(const report_options *options, bool stdout_open, report_output *output,
                       report_sink *sink, bool *wrong_output) {
  std::string why;
  if (open_report_output(options->output, stdout_open, output, &why) == 0) {
    sink->file = output->file;
    return 0;
  }
  *wrong_output = output->refused;
  if (output->refused)
    tell_usage(std::string("the output ") + options->output + " is " + why);
  else
    tell(output_name(options), "cannot write the report: " + why);
  return -1;
}

// Completes the report, or gives it up where made failed: with *why set when
// the sink could not take it, empty when the reason was told. Returns 0, or
// -1 after telling why.
static int finish_output(const report_options *options, int made, std::string *why, report_output *output,
                         report_sink *sink) {
  if (made == 0 && finish_report_output(output, sink, why) == 0) return 0;
  if (made != 0) abort_report_output(output);
  if (!why->empty()) tell(output_name(options), "cannot write the report: " + *why);
  return -1;
}

int report_drives(const report_options *options, bool stdout_open, bool *wrong_output) {
  const report_form *form = options->form;
  // A form made a drive at a time reads its inputs twice: first to know each
  // can be reported, then to write it; nothing is kept in between.
  bool streamed = form->start_stream != nullptr;
  std::vector<report_input> inputs;
  // Every input is read before the output is opened, so that nothing is
  // written when one cannot be reported.
  if (read_inputs(&options->files, !streamed, &inputs) != 0) return -1;
  report_output output;
  report_sink sink;
  if (open_output(options, stdout_open, &output, &sink, wrong_output) != 0) return -1;
  std::string why;
  int made = streamed
                 ? stream_inputs(&options->files, &inputs, form->start_stream, form->write_drive, &sink, &why)
                 : form->write(&inputs, &sink, &why);
  return finish_output(options, made, &why, &output, &sink);
}

int compare_drives(const report_options *options, bool stdout_open, bool *wrong_output) {
  std::vector<report_input> inputs;
  if (read_inputs(&options->files, true, &inputs) != 0) return -1;
  std::vector<compare_side> sides;
  std::vector<comparison> comparisons;
  std::vector<std::string> whys;
  if (compare_inputs(&inputs, options->alpha, &sides, &comparisons, &whys, options->metric) != 0) {
    for (size_t i = 0; i < whys.size(); ++i)
      if (!whys[i].empty()) tell(input_name(options->files[i]), "cannot compare: " + whys[i]);
    return -1;
  }
  for (size_t i = 0; i < comparisons.size(); ++i) {
    const comparison *c = &comparisons[i];
    std::string name = input_name(options->files[i + 1]);
    for (const std::string &note : {pairing_note(c), metric_note(c)})
      if (!note.empty()) tell(name, note);
    if (!c->can_reach_alpha && !options->form->tells_reach)
      tell(name, "note: " + reach_note(c, options->alpha));
  }
  report_output output;
  report_sink sink;
  if (open_output(options, stdout_open, &output, &sink, wrong_output) != 0) return -1;
  std::string why;
  int made = options->form->write_comparison(&comparisons, options->alpha, &sink, &why);
  return finish_output(options, made, &why, &output, &sink);
}
