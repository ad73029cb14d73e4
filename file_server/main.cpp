// Shttpd: serves the files of ROOT_DIR over HTTP/1.0 on PORT until it is killed.
#include "file_server.h"

int main(int argc, char **argv) { return shttpd_main(argc, argv); }
