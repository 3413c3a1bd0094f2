#include <windows.h>

#include <vector>

#include "platform/chunk_codecs.hpp"

namespace packmeter {

namespace {

// ntdll's compression calls, which NTFS itself uses for compressed files. They are not in the
// import libraries of every toolchain, so they are looked up at run time.
using RtlGetCompressionWorkSpaceSizeFn = LONG(WINAPI*)(USHORT, PULONG, PULONG);
using RtlCompressBufferFn = LONG(WINAPI*)(USHORT, PUCHAR, ULONG, PUCHAR, ULONG, ULONG, PULONG,
                                          PVOID);
constexpr USHORT kFormatLznt1 = 2;       // COMPRESSION_FORMAT_LZNT1
constexpr USHORT kEngineStandard = 0;    // COMPRESSION_ENGINE_STANDARD
constexpr LONG kBufferAllZeros = 0x117;  // STATUS_BUFFER_ALL_ZEROS, a success
constexpr ULONG kChunk = 4096;

template <class Fn>
Fn NtdllFunction(const char* name) {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(ntdll, name)))
                 : nullptr;
}

class RtlLznt1Compressor final : public ChunkCompressor {
  public:
    RtlLznt1Compressor(RtlCompressBufferFn compress, ULONG workspace)
        : compress_(compress), workspace_(workspace) {}

    std::size_t CompressedSize(std::span<const std::uint8_t> data) override {
        // Room for every chunk stored plain with its header.
        out_.resize(data.size() + (data.size() / kChunk + 2) * 2);
        ULONG size = 0;
        const LONG status = compress_(
            kFormatLznt1 | kEngineStandard, const_cast<PUCHAR>(data.data()),
            static_cast<ULONG>(data.size()), out_.data(), static_cast<ULONG>(out_.size()), kChunk,
            &size, workspace_.data());
        return status == 0 || status == kBufferAllZeros ? size : data.size();
    }

  private:
    RtlCompressBufferFn compress_;
    std::vector<std::uint8_t> workspace_;
    std::vector<std::uint8_t> out_;
};

}  // namespace

std::unique_ptr<ChunkCompressor> MakeChunkCompressor(const CompressionChoice& choice) {
    if (choice.algorithm != CompressionAlgorithm::kLznt1) {
        return nullptr;  // btrfs' compressors are not built for Windows, which has no btrfs
    }
    const auto workspaceSize =
        NtdllFunction<RtlGetCompressionWorkSpaceSizeFn>("RtlGetCompressionWorkSpaceSize");
    const auto compress = NtdllFunction<RtlCompressBufferFn>("RtlCompressBuffer");
    ULONG workspace = 0;
    ULONG fragment = 0;
    if (!workspaceSize || !compress ||
        workspaceSize(kFormatLznt1 | kEngineStandard, &workspace, &fragment) != 0) {
        return nullptr;
    }
    return std::make_unique<RtlLznt1Compressor>(compress, workspace);
}

}  // namespace packmeter
