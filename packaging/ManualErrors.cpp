// SPDX-License-Identifier: MIT
// Writes the section ERRORS of the manual pages from the store's table of errors, so that the pages
// list every number with its meaning and remedy and can never disagree with the store.
//
//   vantrel-man-errors include OUTPUT         a help2man include file holding the section
//   vantrel-man-errors page TEMPLATE OUTPUT   TEMPLATE with the section put before SEE ALSO
#include "store/ErrorCatalogue.h"

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

// Text as roff prints it: a backslash is escaped, a hyphen is a minus sign (lintian and man's
// searches expect one in options and names), and a line never begins with a control character.
std::string roff(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
    }
    if (!out.empty() && (out.front() == '.' || out.front() == '\''))
        out.insert(0, "\\&");
    return out;
}

std::string section() {
    std::ostringstream text;
    text << "Every failure of the registry is told with its number, as \"(error N)\" by vantrel\\-registry and as\n"
            "\"Error N:\" by vantrel. Numbers never change meaning.\n";
    for (const dao::ErrorEntry& entry : dao::errorCatalogue())
        text << ".TP\n.B " << static_cast<int>(entry.number) << '\n'
             << roff(entry.meaning) << "\n.br\n"
             << roff(entry.remedy) << '\n';
    return text.str();
}

bool write(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out)
        std::cerr << "vantrel-man-errors: cannot write " << path << '\n';
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "include" && argc == 3)
        return write(argv[2], "[ERRORS]\n.PP\n" + section()) ? 0 : 1;
    if (mode == "page" && argc == 4) {
        std::ifstream in(argv[2], std::ios::binary);
        std::string page;
        bool placed = false;
        for (std::string line; std::getline(in, line);) {
            if (!placed && line.rfind(".SH SEE ALSO", 0) == 0) {
                page += ".SH ERRORS\n" + section();
                placed = true;
            }
            page += line + '\n';
        }
        if (!in.eof() || !placed) {
            std::cerr << "vantrel-man-errors: " << argv[2] << " has no section SEE ALSO to put ERRORS before\n";
            return 1;
        }
        return write(argv[3], page) ? 0 : 1;
    }
    std::cerr << "usage: vantrel-man-errors include OUTPUT | page TEMPLATE OUTPUT\n";
    return 1;
}
