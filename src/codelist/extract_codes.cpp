#include "codelist/extract_codes.hpp"

#include <array>
#include <span>

#include "codelist/line_rules.hpp"
#include "textio/console.hpp"

namespace codelist {
namespace {

constexpr const char* input_name = "code.txt";
constexpr const char* output_name = "code_new.txt";

// Pieces judged in one go: enough to make the loop long, few enough that
// their codes fit in one reserve of the output.
constexpr std::size_t pieces_per_batch = 512;
static_assert(pieces_per_batch * written_code_size + write_codes_slack <=
              textio::output_stream::max_reserve);
static_assert(code_reach <= textio::readable_past_piece_start);

// Every string that goes into the file is shown on the console first; it is
// converted to CR LF once, for both.
void echo_text(std::string_view text, textio::output_stream& output) {
  textio::write_text(text, output, textio::print_bytes);
}

// The normal form of each piece that starts with a code, shown and written.
void echo_codes(std::span<const char* const> pieces, textio::output_stream& output) {
  char* const begin =
      output.reserve(pieces.size() * written_code_size + write_codes_slack);
  const auto size = static_cast<std::size_t>(write_codes(pieces, begin) - begin);
  textio::print_bytes({begin, size});
  output.commit(size);
}

// The code pass, where nearly all the time of a long list goes. Pieces that
// lie whole in the read-ahead are judged where they lie, many at a time; the
// rest go through the line buffer, one by one.
void copy_codes(textio::input_stream& input, textio::output_stream& output,
                std::span<char> line_buffer) {
  std::array<const char*, pieces_per_batch> starts;
  for (;;) {
    const auto pieces = textio::pieces_in_place(input, line_buffer.size() - 1, starts);
    if (!pieces.empty()) {
      echo_codes(pieces, output);
      continue;
    }
    const auto line = textio::read_text_line(line_buffer, input);
    if (!line) return;
    if (is_code_line(*line)) echo_text(normalize_code_line(line_buffer), output);
  }
}

run_outcome report(const copy_result& copied, bool written) {
  // The rule closes the echo, so it is shown only when something was echoed.
  if (copied.header_found) textio::print_message(separator_rule);
  if (copied.read_failed) {
    textio::print_message(read_failure_message);
    return run_outcome::read_failed;
  }
  if (!written) {
    textio::print_message(write_failure_message);
    return run_outcome::write_failed;
  }
  if (copied.header_found) textio::print_message(completion_message);
  return run_outcome::done;
}

run_outcome run() {
  // Before anything is printed: `codelist >> code.txt` would otherwise grow
  // the list with its own echo or its message, and `codelist >
  // code_new.txt` would put the echo in place of the result. The first call
  // also sets the console up, before any file is written.
  textio::keep_console_off(input_name);
  textio::keep_console_off(output_name);
  auto input = textio::open_input(input_name);
  if (!input) {
    textio::print_message(open_failure_message);
    return run_outcome::open_failed;
  }
  textio::keep_console_off(*input);
  auto output = textio::open_output(output_name, *input);
  if (!output) {
    textio::print_message(open_failure_message);
    textio::close_stream(*input);
    return run_outcome::open_failed;
  }
  const copy_result copied = copy_code_list(*input, *output);
  textio::close_stream(*input);
  // Closed before the verdict, so that a failure of the last flush or of the
  // close itself is part of it.
  const bool written = textio::close_stream(*output);
  return report(copied, written);
}

}  // namespace

copy_result copy_code_list(textio::input_stream& input, textio::output_stream& output) {
  std::array<char, line_buffer_size> line_buffer;
  std::optional<std::string_view> line;

  // Lines before the header line are dropped, codes among them.
  do {
    line = textio::read_text_line(line_buffer, input);
  } while (line && !is_header_line(*line));
  if (!line) return {false, input.failed()};
  echo_text(*line, output);
  // The line after the header line belongs to the header block whatever it
  // holds. When the input ends there, there is nothing to copy.
  if ((line = textio::read_text_line(line_buffer, input))) {
    echo_text(*line, output);
  } else if (input.failed()) {
    return {true, true};
  }
  echo_text(code_heading, output);
  copy_codes(input, output, line_buffer);
  return {true, input.failed()};
}

run_outcome extract_codes() {
  const run_outcome outcome = run();
  textio::flush_console();
  return outcome;
}

}  // namespace codelist
