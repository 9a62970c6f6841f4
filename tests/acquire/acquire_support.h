#pragma once
// What the acquisition tests share about the yt-dlp.exe stand-in: what it was started
// with, where it lies, which titles it gives, and whether any copy still runs.
#include <string>
#include <vector>

std::string utf8_of(const std::wstring& text);

// File names (not paths) directly in folder, folders skipped.
std::vector<std::wstring> files_in(const std::wstring& folder);

// How many processes named yt-dlp.exe run now.
int running_doubles(void);

// Every start of the stand-in while this lives is logged; starts() gives each start's
// argument vector as the stand-in's CommandLineToArgvW saw it.
struct ArgumentLog {
    std::wstring path;
    ArgumentLog();
    ~ArgumentLog();
    std::vector<std::vector<std::wstring>> starts() const;
    bool crt_differs() const;  // the C runtime split some line differently
};

// Titles the stand-in gives to video ids, while this lives.
struct Catalogue {
    std::wstring path;
    explicit Catalogue(const std::vector<std::pair<std::wstring, std::wstring>>& id_titles);
    ~Catalogue();
};

// While this lives the downloader is a program that is nowhere: "not installed".
struct MissingDownloader {
    MissingDownloader();
    ~MissingDownloader();
};
