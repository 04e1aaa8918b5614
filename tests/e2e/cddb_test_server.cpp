// A CDDB server on 127.0.0.1 for the end-to-end lookup: every query matches one entry, whose
// titles are "Alpha", "Beta", "Gamma"... for as many tracks as the query names. Prints its port
// on the first line of standard output and serves until standard input closes.
//
//   cddb_test_server

#include "TestHttpServer.h"

#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>

int main()
{
    const char* names[] = {"Alpha", "Beta", "Gamma", "Delta", "Epsilon", "Zeta", "Eta", "Theta", "Iota", "Kappa"};
    int tracks = 3;
    TTestHttpServer server([&](const std::string& line) -> std::string {
        // "GET /~cddb/cddb.cgi?cmd=cddb+query+<id>+<ntrks>+..."
        const auto query = line.find("cmd=cddb+query+");
        if (query != std::string::npos) {
            std::istringstream words(line.substr(query + 15));
            std::string id, count;
            std::getline(words, id, '+');
            std::getline(words, count, '+');
            tracks = std::stoi(count);
            return "200 rock " + id + " E2E Band / E2E Album\r\n";
        }
        std::string entry = "210 rock entry follows\r\nDTITLE=E2E Band / E2E Album\r\nDYEAR=2026\r\nDGENRE=Rock\r\n";
        for (int t = 0; t < tracks; ++t)
            entry += "TTITLE" + std::to_string(t) + "=" + names[t % 10] + "\r\n";
        return entry + "EXTD=\r\n.\r\n";
    });
    std::printf("%d\n", server.Port());
    std::fflush(stdout);
    char c;
    while (read(0, &c, 1) > 0) {
    }
    return 0;
}
