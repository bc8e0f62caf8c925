#include "codelist/extract_codes.hpp"

#include <array>

#include "codelist/line_rules.hpp"

namespace codelist {
namespace {

constexpr const char* input_name = "code.txt";
constexpr const char* output_name = "code_new.txt";

run_outcome report(const copy_result& copied, bool written) {
  // The rule closes the echo, so it is shown only when something was echoed.
  if (copied.header_found) textio::print_text(separator_rule);
  if (copied.read_failed) {
    textio::print_text(read_failure_message);
    return run_outcome::read_failed;
  }
  if (!written) {
    textio::print_text(write_failure_message);
    return run_outcome::write_failed;
  }
  if (copied.header_found) textio::print_text(completion_message);
  return run_outcome::done;
}

run_outcome run() {
  auto input = textio::open_input(input_name);
  if (!input) {
    textio::print_text(open_failure_message);
    return run_outcome::open_failed;
  }
  // `codelist >> code.txt` would otherwise grow the list with its own echo.
  textio::keep_console_off(*input);
  auto output = textio::open_output(output_name, *input);
  if (!output) {
    textio::print_text(open_failure_message);
    textio::close_stream(*input);
    return run_outcome::open_failed;
  }
  textio::keep_console_off(*output);
  const copy_result copied = copy_code_list(*input, *output);
  textio::close_stream(*input);
  // Closed before the verdict, so that a failure of the last flush or of the
  // close itself is part of it.
  const bool written = textio::close_stream(*output);
  return report(copied, written);
}

}  // namespace

copy_result copy_code_list(textio::text_stream& input, textio::text_stream& output) {
  std::array<char, line_buffer_size> line_buffer;
  std::optional<std::string_view> line;

  // Lines before the header line are dropped, codes among them.
  do {
    line = textio::read_text_line(line_buffer, input);
  } while (line && !is_header_line(*line));
  if (!line) return {false, input.failed()};
  textio::echo_text(*line, output);
  // The line after the header line belongs to the header block whatever it
  // holds. When the input ends there, there is nothing to copy.
  if ((line = textio::read_text_line(line_buffer, input))) {
    textio::echo_text(*line, output);
  } else if (input.failed()) {
    return {true, true};
  }
  textio::echo_text(code_heading, output);

  while ((line = textio::read_text_line(line_buffer, input))) {
    if (is_code_line(*line)) textio::echo_text(normalize_code_line(line_buffer), output);
  }
  return {true, input.failed()};
}

run_outcome extract_codes() {
  const run_outcome outcome = run();
  textio::flush_console();
  return outcome;
}

}  // namespace codelist
