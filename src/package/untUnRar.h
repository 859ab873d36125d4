#pragma once

#include <cstdint>

// The UnRAR library as the extraction component calls it: archive by
// archive, file by file, with a callback for data, passwords and volumes.
// Our own implementation over libarchive (RAR 4 and RAR 5), linked in rather
// than loaded; the binding table below stands for the loaded module so that
// a missing library can still be represented (and tested).
//
// Strings are zero-terminated UTF-8 byte strings (the system code page here);
// paths may be Windows-style ("c:\testtank"), mapped through platform::hostPath.
// Entry names stored without Unicode are read as CP936 unless they are valid
// UTF-8. Called on one thread at a time per handle.
namespace unrar {

using HANDLE = void *;
using LPARAM = std::intptr_t;
using UNRARCALLBACK = int (*)(unsigned msg, LPARAM userData, LPARAM p1, LPARAM p2);

enum : int {
    ERAR_SUCCESS = 0,
    ERAR_END_ARCHIVE = 10,
    ERAR_NO_MEMORY = 11,
    ERAR_BAD_DATA = 12,
    ERAR_BAD_ARCHIVE = 13,
    ERAR_UNKNOWN_FORMAT = 14,
    ERAR_EOPEN = 15,
    ERAR_ECREATE = 16,
    ERAR_ECLOSE = 17,
    ERAR_EREAD = 18,
    ERAR_EWRITE = 19,
    ERAR_SMALL_BUF = 20,
    ERAR_UNKNOWN = 21, // also: a callback answered -1 and the file was abandoned
    ERAR_MISSING_PASSWORD = 22,
    ERAR_BAD_PASSWORD = 24, // a password was given, but this reader cannot decrypt
};

enum : unsigned { RAR_OM_LIST = 0, RAR_OM_EXTRACT = 1 };
enum : int { RAR_SKIP = 0, RAR_TEST = 1, RAR_EXTRACT = 2 };
enum : unsigned { UCM_CHANGEVOLUME = 0, UCM_PROCESSDATA = 1, UCM_NEEDPASSWORD = 2 };
enum : int { RAR_VOL_ASK = 0, RAR_VOL_NOTIFY = 1 };

// Header flags (as in RAR 4 file headers).
enum : unsigned {
    RHDF_SPLITBEFORE = 0x01,
    RHDF_SPLITAFTER = 0x02,
    RHDF_ENCRYPTED = 0x04,
    RHDF_SOLID = 0x10,
    RHDF_DIRECTORY = 0xE0, // all three dictionary bits set
};

// Link kinds in RARHeaderDataEx::RedirType.
enum : unsigned { REDIR_NONE = 0, REDIR_SYMLINK = 1, REDIR_HARDLINK = 4 };

inline constexpr int kNameSize = 1024;

struct RAROpenArchiveData {
    const char *ArcName = nullptr;
    unsigned OpenMode = RAR_OM_EXTRACT;
    unsigned OpenResult = 0;
    char *CmtBuf = nullptr;
    unsigned CmtBufSize = 0;
    unsigned CmtSize = 0;
    unsigned CmtState = 0; // 0 none, 1 read, 11/12/14/20 errors
};

struct RARHeaderData {
    char ArcName[260];
    char FileName[260];
    unsigned Flags;
    unsigned PackSize;
    unsigned UnpSize;
    unsigned HostOS;
    unsigned FileCRC;
    unsigned FileTime;
    unsigned UnpVer;
    unsigned Method;
    unsigned FileAttr;
};

struct RARHeaderDataEx {
    char ArcName[kNameSize];
    wchar_t ArcNameW[kNameSize];
    char FileName[kNameSize];     // '\' separators, as stored on the authoring machine
    wchar_t FileNameW[kNameSize];
    unsigned Flags;
    unsigned PackSize;
    unsigned PackSizeHigh;
    unsigned UnpSize;
    unsigned UnpSizeHigh;
    unsigned HostOS;   // 0 DOS, 1 OS/2, 2 Windows, 3 Unix
    unsigned FileCRC;
    unsigned FileTime; // DOS date (high 16 bits) and time (low 16 bits)
    unsigned UnpVer;
    unsigned Method;   // 0x30 stored .. 0x35 best
    unsigned FileAttr;
    unsigned DictSize; // bytes
    unsigned RedirType;
    char RedirName[kNameSize]; // link target, UTF-8
};

// The entry points, as resolved from the module.
struct Binding {
    bool loaded = false;
    HANDLE (*RAROpenArchive)(RAROpenArchiveData *) = nullptr;
    HANDLE (*RAROpenArchiveEx)(RAROpenArchiveData *) = nullptr;
    int (*RARCloseArchive)(HANDLE) = nullptr;
    int (*RARReadHeader)(HANDLE, RARHeaderData *) = nullptr;
    int (*RARReadHeaderEx)(HANDLE, RARHeaderDataEx *) = nullptr;
    int (*RARProcessFile)(HANDLE, int operation, const char *destPath, const char *destName) = nullptr;
    void (*RARSetCallback)(HANDLE, UNRARCALLBACK, LPARAM) = nullptr;
    void (*RARSetChangeVolProc)(HANDLE, int (*)(char *, int)) = nullptr;
    void (*RARSetProcessDataProc)(HANDLE, int (*)(unsigned char *, int)) = nullptr;
    void (*RARSetPassword)(HANDLE, const char *) = nullptr;
    int (*RARGetDllVersion)() = nullptr;
};

// The process-wide binding: filled by loadLibrary(), cleared by
// unloadLibrary(). UI thread only.
Binding &binding();
// Loads "unrar.dll": fills binding() and returns whether it loaded.
bool loadLibrary();
void unloadLibrary();
// Tests make the module "missing" (the next loads fail) or present again.
void setLibraryAvailable(bool available);

// The entry points themselves.
HANDLE RAROpenArchive(RAROpenArchiveData *data);
HANDLE RAROpenArchiveEx(RAROpenArchiveData *data);
int RARCloseArchive(HANDLE handle);
int RARReadHeader(HANDLE handle, RARHeaderData *header);
int RARReadHeaderEx(HANDLE handle, RARHeaderDataEx *header);
int RARProcessFile(HANDLE handle, int operation, const char *destPath, const char *destName);
void RARSetCallback(HANDLE handle, UNRARCALLBACK callback, LPARAM userData);
void RARSetChangeVolProc(HANDLE handle, int (*proc)(char *, int));
void RARSetProcessDataProc(HANDLE handle, int (*proc)(unsigned char *, int));
void RARSetPassword(HANDLE handle, const char *password);
int RARGetDllVersion();

inline constexpr int kDllVersion = 8;

} // namespace unrar
