#include "server/UpdateServer.h"

int main(int argc, char** argv) { return updsrv::RunServer(argc, argv); }
