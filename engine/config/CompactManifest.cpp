#include "CompactManifest.h"

extern "C" {
#include "LzmaDec.h"
}

#include <cstdlib>

namespace {

constexpr size_t kHeaderBytes = LZMA_PROPS_SIZE + 8;
constexpr size_t kPiece = 64 * 1024;

void* Allocate(ISzAllocPtr, size_t size) { return malloc(size); }
void Free(ISzAllocPtr, void* address) { free(address); }
const ISzAlloc kHeap = {Allocate, Free};

// The decoder's state, freed however the unpacking ends.
class Decoder {
public:
    Decoder() { LzmaDec_Construct(&state_); }
    ~Decoder() { LzmaDec_Free(&state_, &kHeap); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    CLzmaDec* Get() { return &state_; }

private:
    CLzmaDec state_;
};

}  // namespace

bool UnpackCompactManifest(const std::string& bytes, std::string& text, std::wstring& error)
{
    text.clear();
    if (bytes.size() < kHeaderBytes) {
        error = L"too short for a compact manifest";
        return false;
    }
    const Byte* const props = reinterpret_cast<const Byte*>(bytes.data());
    uint64_t size = 0;
    for (int i = 7; i >= 0; --i) {
        size = size << 8 | props[LZMA_PROPS_SIZE + i];
    }
    const bool sizeKnown = size != ~uint64_t(0);
    if (sizeKnown && size > kMaxManifestTextBytes) {
        error = L"its text would be larger than a manifest may be";
        return false;
    }
    const uint32_t dictionary = uint32_t(props[1]) | uint32_t(props[2]) << 8 | uint32_t(props[3]) << 16 |
                                uint32_t(props[4]) << 24;
    if (dictionary > kMaxManifestDictionary) {
        error = L"its stream asks for a larger dictionary than a manifest needs";
        return false;
    }
    Decoder decoder;
    if (LzmaDec_Allocate(decoder.Get(), props, LZMA_PROPS_SIZE, &kHeap) != SZ_OK) {
        error = L"its stream's properties can't be used";
        return false;
    }
    LzmaDec_Init(decoder.Get());
    const Byte* in = props + kHeaderBytes;
    SizeT inLeft = bytes.size() - kHeaderBytes;
    Byte piece[kPiece];
    for (;;) {
        SizeT out = kPiece;
        if (sizeKnown && size - text.size() < out) {
            out = static_cast<SizeT>(size - text.size());
        }
        SizeT used = inLeft;
        ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
        const SRes res = LzmaDec_DecodeToBuf(decoder.Get(), piece, &out, in, &used,
                                             sizeKnown ? LZMA_FINISH_END : LZMA_FINISH_ANY, &status);
        in += used;
        inLeft -= used;
        text.append(reinterpret_cast<const char*>(piece), out);
        if (res != SZ_OK) {
            error = L"its stream is damaged";
            return false;
        }
        if (text.size() > kMaxManifestTextBytes) {
            error = L"its text is larger than a manifest may be";
            return false;
        }
        const bool finished = status == LZMA_STATUS_FINISHED_WITH_MARK ||
                              (sizeKnown && text.size() == size && status == LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK);
        if (finished) {
            if (inLeft != 0 || (sizeKnown && text.size() != size)) {
                error = L"its stream ends before its bytes do, or not where its size says";
                return false;
            }
            return true;
        }
        if (out == 0 && used == 0) {
            error = L"its stream is cut short";
            return false;
        }
    }
}

bool ParseCompactManifest(const std::string& bytes, PackageManifest& manifest, std::wstring& error)
{
    std::string text;
    return UnpackCompactManifest(bytes, text, error) && ParseManifest(text, manifest, error);
}
