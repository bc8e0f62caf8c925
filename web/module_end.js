// Appended to the module by the build: what run.js needs of it beyond its
// exports. Asyncify lets a read of code.txt wait for bytes that arrive
// later; exit ends the program as it ends anywhere, once main has returned.
Module['asyncify'] = Asyncify;
Module['exit_program'] = exit;
