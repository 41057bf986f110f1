// File markers in a statement: files bound as parameters ("<%", "<#", "<$"), the first column
// written to a file (">#", ">%"), and the export of a query through a server cursor (">$").
#pragma once

// Where the markers' file names start in the statement text (pointers into it), null when the
// marker is absent.
struct redirections {
    char* sfilename = nullptr;   // "<%": files bound as text
    char* bfilename = nullptr;   // "<#": files bound as bytes
    char* bifilename = nullptr;  // "<$": files bound as bytes
    char* btfilename = nullptr;  // ">#": first column written unchanged
    char* tfilename = nullptr;   // ">%": first column written in text mode
    char* efilename = nullptr;   // ">$": export through a cursor
    bool any() const {
        return sfilename || bfilename || bifilename || btfilename || tfilename || efilename;
    }
};

// Finds the markers in text, outside single-quoted literals, and cuts the text in place: the
// statement ends before the first marker and each file name ends at the next one.
redirections scan_redirections(char* text);

// Runs the statement (text, as cut by scan_redirections) by its markers. Console thread.
void run_redirections(const char* text, const redirections& r);
