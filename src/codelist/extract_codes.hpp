// The whole run of the tool: code.txt in, code_new.txt out, everything that
// goes into the file echoed to the console first.
#pragma once

#include "textio/reader.hpp"
#include "textio/writer.hpp"

namespace codelist {

enum class run_outcome {
  done,          // also when code.txt holds no header line
  open_failed,   // code.txt or code_new.txt could not be opened
  read_failed,   // code.txt could not be read to its end
  write_failed,  // code_new.txt may be incomplete
};

// Runs the tool in the current directory and says how it ended; the console
// has been told already.
run_outcome extract_codes();

// How copying one code list went; the output stream itself knows whether a
// write failed.
struct copy_result {
  bool header_found;
  bool read_failed;
};

// The two passes over an open code list: the header block with the "Code"
// heading, then every later code line in its short form. Each string is
// shown on the console and then written to `output`.
copy_result copy_code_list(textio::input_stream& input, textio::output_stream& output);

}  // namespace codelist
