// corvex: the verification worker. Reads requests on standard input and
// answers with 512-byte result records on standard output.
#include "worker/request_loop.h"

int main(int argc, char** argv) { worker_main(argc, argv); }
