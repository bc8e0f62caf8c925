// Feeds arbitrary bytes through the reader and through the whole copy of a
// code list, with a read-ahead size taken from the input so that the edges
// of the read-ahead buffer fall everywhere, and checks what must always hold:
// against a model of the reading rules, and pieces taken where they lie
// against pieces taken one by one.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "codelist/extract_codes.hpp"
#include "codelist/line_rules.hpp"
#include "text_forms.hpp"
#include "textio/reader.hpp"
#include "textio/writer.hpp"

namespace {

namespace fs = std::filesystem;

fs::path scratch;
std::string input_path;
std::string output_path;

void require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
  }
}

void put_file(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size());
}

std::string file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The input as a reader must deliver it: cut at the first Ctrl-Z, without CRs.
std::string cleaned(std::string_view data) {
  std::string out;
  for (const char c : data.substr(0, data.find('\x1A'))) {
    if (c != '\r') out += c;
  }
  return out;
}

bool is_hex_code(std::string_view s) {
  if (s.size() != 17 || s[8] != ' ') return false;
  for (std::size_t i = 0; i < 17; ++i) {
    if (i != 8 && !((s[i] >= '0' && s[i] <= '9') || (s[i] >= 'A' && s[i] <= 'F')))
      return false;
  }
  return true;
}

// Every piece, taken where it lies whenever it can, `batch` at a time.
std::vector<std::string> read_pieces_in_place(std::size_t read_ahead, std::size_t batch) {
  auto in = textio::open_input(input_path.c_str(), read_ahead);
  require(in.has_value(), "input opens");
  std::vector<std::string> pieces;
  std::array<char, codelist::line_buffer_size> buffer;
  std::vector<const char*> starts(batch);
  for (;;) {
    const auto found = textio::pieces_in_place(*in, buffer.size() - 1, starts);
    for (const char* start : found) pieces.push_back(piece_at(start));
    if (!found.empty()) continue;
    const auto piece = textio::read_text_line(buffer, *in);
    if (!piece) break;
    pieces.emplace_back(*piece);
  }
  require(!in->failed(), "no read error");
  textio::close_stream(*in);
  return pieces;
}

std::vector<std::string> read_pieces(std::size_t read_ahead) {
  auto in = textio::open_input(input_path.c_str(), read_ahead);
  require(in.has_value(), "input opens");
  std::vector<std::string> pieces;
  std::array<char, codelist::line_buffer_size> buffer;
  while (auto piece = textio::read_text_line(buffer, *in)) {
    require(piece->size() <= 199, "no piece longer than 199 bytes");
    require(piece->find('\r') == std::string_view::npos, "no CR in a piece");
    const auto lf = piece->find('\n');
    require(lf == std::string_view::npos || lf + 1 == piece->size(),
            "a line feed ends its piece");
    require(buffer[piece->size()] == '\0', "a NUL follows the piece");
    if (!pieces.empty()) {
      require(pieces.back().back() == '\n' || pieces.back().size() == 199,
              "only the last piece of a line is short of 199 bytes and a line feed");
    }
    pieces.emplace_back(*piece);
  }
  require(!in->failed(), "no read error");
  textio::close_stream(*in);
  return pieces;
}

// What code_new.txt must hold, by the rules as a user reads them.
std::string expected_file(const std::vector<std::string>& pieces) {
  std::size_t h = 0;
  while (h < pieces.size() && !codelist::is_header_line(pieces[h])) ++h;
  if (h == pieces.size()) return "";
  std::string out = with_cr_lf(pieces[h]);
  if (h + 1 < pieces.size()) out += with_cr_lf(pieces[h + 1]);
  out += "\r\nCode\r\n";
  for (std::size_t i = h + 2; i < pieces.size(); ++i) {
    if (is_hex_code(std::string_view(pieces[i]).substr(0, 17))) {
      out += pieces[i].substr(0, 17) + "\r\n";
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  scratch = fs::temp_directory_path() / ("codelist_fuzz_" + std::to_string(getpid()));
  fs::create_directories(scratch);
  input_path = (scratch / "code.txt").string();
  output_path = (scratch / "code_new.txt").string();
  // The run echoes to the console; the fuzzer's own report goes to stderr.
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, STDOUT_FILENO);
  close(null);
  std::atexit([] { fs::remove_all(scratch); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t read_ahead = 1 + ((bytes[0] << 8 | bytes[1]) % 1024);
  const std::string_view data(reinterpret_cast<const char*>(bytes) + 2, size - 2);
  put_file(input_path, data);

  const std::vector<std::string> pieces = read_pieces(read_ahead);
  std::string joined;
  for (const std::string& piece : pieces) joined += piece;
  require(joined == cleaned(data), "the pieces joined are the cleaned input");
  require(read_pieces_in_place(read_ahead, 1 + bytes[1] % 600) == pieces,
          "pieces taken where they lie are the pieces taken one by one");

  auto input = textio::open_input(input_path.c_str(), read_ahead);
  require(input.has_value(), "input opens");
  auto output = textio::open_output(output_path.c_str(), *input, read_ahead);
  require(output.has_value(), "output opens");
  const codelist::copy_result copied = codelist::copy_code_list(*input, *output);
  textio::close_stream(*input);
  require(textio::close_stream(*output), "the file is written");
  require(!copied.read_failed, "no read error");

  const std::string file = file_bytes(output_path);
  require(file == expected_file(pieces), "code_new.txt as expected");
  // The heading is the last "Code" line in the file, since no code holds an
  // "o"; every line after it is a code, 17 bytes and a line end.
  const std::size_t heading = file.rfind("\r\nCode\r\n");
  require(copied.header_found == (heading != std::string::npos),
          "a heading iff a header");
  if (copied.header_found) {
    std::string_view codes = std::string_view(file).substr(heading + 8);
    require(codes.size() % 19 == 0, "code lines are 19 bytes");
    for (; !codes.empty(); codes.remove_prefix(19)) {
      require(is_hex_code(codes.substr(0, 17)) && codes.substr(17, 2) == "\r\n",
              "a code line is a code and a line end");
    }
  }
  return 0;
}
