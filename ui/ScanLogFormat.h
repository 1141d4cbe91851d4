// Texts of the result actions that need no window system: the scan log's
// lines and bytes, the log file's name rule, and how a row names its stream.
#pragma once
#include <string>

#include "StreamPath.h"

// The log's first line: the column titles joined by the field separator.
std::wstring ScanLogHeader();

// One row of the log: the three cells as the list shows them, unpadded and
// unescaped, joined by the field separator, ended by CR LF.
std::wstring ScanLogLine(const std::wstring& strStreamName, const std::wstring& strStreamSize,
                         const std::wstring& strFilePath);

// The log file's bytes: UTF-16 little-endian, two bytes per UTF-16 unit, no
// byte-order mark, no terminating null. Where wchar_t is wider than UTF-16,
// characters beyond the basic plane become surrogate pairs.
std::string ScanLogBytes(const std::wstring& text);

// The chosen path with ".txt" appended unless it already ends in exactly
// ".txt" (case-sensitive; a path shorter than four characters never does).
std::wstring ScanLogFilePath(const std::wstring& chosenPath);

// The stream path of a row on a platform of the given kind (JoinStreamPath):
// "file:name:$DATA" where streams are real, "file:name" where they are
// sibling files; empty when the row's texts name no stream.
std::wstring StreamPathOf(const std::wstring& strFilePath, const std::wstring& strStreamName,
                          vestrel::StreamPlatform platform);

// True when the row's texts name one alternate data stream. An empty stream
// name (":" for a click on no row, "file:" for a name that trimmed to
// nothing) names no stream, and the file system may take "file:" for the
// file itself, so such a path must never be opened or deleted.
bool NamesStream(const std::wstring& strFilePath, const std::wstring& strStreamName);
