// Windows (or Wine): how fast a folder of many files is listed by FindFirstFileExW (names,
// attributes, sizes) and by GetFileInformationByHandleEx with FileIdBothDirectoryInfo (the
// same, plus each file's id), in interleaved runs; and the memory the walk's set of file ids
// takes for one id a file.
//   win_list_bench FOLDER [FILES [RUNS]]   (FOLDER is made with FILES empty files if missing)
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/scan/file_id_set.hpp"

namespace {

using Clock = std::chrono::steady_clock;

long ListFind(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    const HANDLE find =
        ::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                           nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
        return -1;
    }
    long count = 0;
    do {
        ++count;
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return count;
}

long ListById(const std::wstring& folder, packmeter::FileIdSet* ids) {
    const HANDLE handle = ::CreateFileW(
        folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return -1;
    }
    constexpr DWORD kBytes = 64 * 1024;
    const auto buffer = std::make_unique<std::uint64_t[]>(kBytes / 8);
    long count = 0;
    while (::GetFileInformationByHandleEx(handle, FileIdBothDirectoryInfo, buffer.get(), kBytes)) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.get());
        for (;;) {
            const auto& info = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes);
            ++count;
            if (ids && !(info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                ids->Insert(static_cast<std::uint64_t>(info.FileId.QuadPart));
            }
            if (info.NextEntryOffset == 0) {
                break;
            }
            bytes += info.NextEntryOffset;
        }
    }
    ::CloseHandle(handle);
    return count;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: win_list_bench FOLDER [FILES [RUNS]]\n");
        return 2;
    }
    const std::wstring folder = argv[1];
    const long files = argc > 2 ? std::wcstol(argv[2], nullptr, 10) : 50000;
    const int runs = std::max(9, argc > 3 ? int(std::wcstol(argv[3], nullptr, 10)) : 9);
    if (::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
        ::CreateDirectoryW(folder.c_str(), nullptr);
        for (long i = 0; i < files; ++i) {
            const std::wstring name = folder + L"\\file" + std::to_wstring(i) + L".txt";
            ::CloseHandle(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        }
    }
    std::vector<double> find, byId;
    long findCount = 0, idCount = 0;
    for (int run = 0; run < runs; ++run) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool findTurn = (turn == 0) == (run % 2 == 0);
            const auto start = Clock::now();
            const long count = findTurn ? ListFind(folder) : ListById(folder, nullptr);
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            (findTurn ? find : byId).push_back(seconds);
            (findTurn ? findCount : idCount) = count;
        }
    }
    std::printf("%ld / %ld entries, %d runs each, min/median/max s\n", findCount, idCount, runs);
    std::printf("  FindFirstFileExW              %.3f/%.3f/%.3f\n",
                *std::min_element(find.begin(), find.end()), Median(find),
                *std::max_element(find.begin(), find.end()));
    std::printf("  FileIdBothDirectoryInfo       %.3f/%.3f/%.3f  (%.2f x FindFirstFileExW)\n",
                *std::min_element(byId.begin(), byId.end()), Median(byId),
                *std::max_element(byId.begin(), byId.end()), Median(byId) / Median(find));
    packmeter::FileIdSet ids;
    ListById(folder, &ids);
    std::printf("  file-id set: %zu ids in %zu bytes, %.1f bytes a file\n", ids.Size(), ids.Bytes(),
                ids.Size() ? double(ids.Bytes()) / double(ids.Size()) : 0.0);
    // A walk of 1,000,000 files puts each file's id in the set: ids as Wine makes them from the
    // host's inode numbers, rising with gaps. While the set grows it holds its old slots too.
    packmeter::FileIdSet million;
    std::uint64_t inode = 1000000;
    for (long i = 0; i < 1000000; ++i) {
        inode += 1 + std::uint64_t(i % 7 == 0) * 3;
        million.Insert(inode);
    }
    std::printf("  file-id set of 1,000,000 files: %.1f bytes a file (%.1f while it grows)\n",
                double(million.Bytes()) / double(million.Size()),
                double(million.PeakBytes()) / double(million.Size()));
    return 0;
}
