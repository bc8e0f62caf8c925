#include "codelist/extract_codes.hpp"

// Arguments are ignored: the tool always works on code.txt in the current
// directory.
int main() { return codelist::extract_codes() == codelist::run_outcome::done ? 0 : 1; }
