// The page's entry for the question the console tool never answers: why
// each line of code.txt was kept or dropped. The answer goes to
// explanation.txt in the current folder, in the form that explain.hpp gives.
// Only the web build has this entry; the console program is unchanged.
#include "codelist/explain.hpp"
#include "textio/reader.hpp"
#include "textio/writer.hpp"

// Returns 0 once the report is written whole (it says itself whether
// code.txt was read to its end), 1 when code.txt cannot be opened, 2 when
// explanation.txt cannot be written. A negative `most_listed` lists every
// piece, the kept ones too.
extern "C" int codelist_explain(int most_listed) {
  auto input = textio::open_input("code.txt");
  if (!input) return 1;
  auto output = textio::open_output("explanation.txt", *input);
  if (!output) {
    textio::close_stream(*input);
    return 2;
  }
  codelist::report_options options;
  if (most_listed < 0) {
    options = {codelist::all_listed, true};
  } else {
    options.most_listed = static_cast<std::size_t>(most_listed);
  }
  codelist::write_explanation(*input, options, [&output](std::string_view record) {
    textio::write_text(record, *output);
  });
  textio::close_stream(*input);
  return textio::close_stream(*output) ? 0 : 2;
}
