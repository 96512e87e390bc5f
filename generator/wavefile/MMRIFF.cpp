#include "generator/wavefile/MMRIFF.h"

#include <algorithm>
#include <cstring>

namespace {

uint32_t ReadLE32(const uint8_t* p) {
    return p[0] | p[1] << 8 | static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void AppendLE32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

int IndexOf(TFourCC id) {
    const auto& ids = InfoIds();
    for (int i = 0; i < kInfoIdCount; ++i) {
        if (ids[i].Id == id) {
            return i;
        }
    }
    return -1;
}

const std::string kNoText;

} // namespace

const std::array<TMMInfoId, kInfoIdCount>& InfoIds() {
    static const std::array<TMMInfoId, kInfoIdCount> ids = {{
        {MakeFourCC('I', 'A', 'R', 'L'), "Archival Location"},
        {MakeFourCC('I', 'A', 'R', 'T'), "Artist"},
        {MakeFourCC('I', 'C', 'M', 'S'), "Commissioned"},
        {MakeFourCC('I', 'C', 'M', 'T'), "Comments"},
        {MakeFourCC('I', 'C', 'O', 'P'), "Copyright"},
        {MakeFourCC('I', 'C', 'R', 'D'), "Creation Date"},
        {MakeFourCC('I', 'C', 'R', 'P'), "Cropped"},
        {MakeFourCC('I', 'D', 'I', 'M'), "Dimensions"},
        {MakeFourCC('I', 'D', 'P', 'I'), "Dots Per Inch"},
        {MakeFourCC('I', 'E', 'N', 'G'), "Engineer"},
        {MakeFourCC('I', 'G', 'N', 'R'), "Genre"},
        {MakeFourCC('I', 'K', 'E', 'Y'), "Keywords"},
        {MakeFourCC('I', 'L', 'G', 'T'), "Lightness"},
        {MakeFourCC('I', 'M', 'E', 'D'), "Medium"},
        {MakeFourCC('I', 'N', 'A', 'M'), "Name"},
        {MakeFourCC('I', 'P', 'L', 'T'), "Palette Setting"},
        {MakeFourCC('I', 'P', 'R', 'D'), "Product"},
        {MakeFourCC('I', 'S', 'B', 'J'), "Subject"},
        {MakeFourCC('I', 'S', 'F', 'T'), "Software"},
        {MakeFourCC('I', 'S', 'H', 'P'), "Sharpness"},
        {MakeFourCC('I', 'S', 'R', 'C'), "Source"},
        {MakeFourCC('I', 'S', 'R', 'F'), "Source Form"},
        {MakeFourCC('I', 'T', 'C', 'H'), "Technician"},
    }};
    return ids;
}

const std::string& TMMInfoList::Text(TFourCC id) const {
    const int index = IndexOf(id);
    return index < 0 ? kNoText : texts_[index];
}

bool TMMInfoList::SetText(TFourCC id, const std::string& text) {
    const int index = IndexOf(id);
    if (index < 0) {
        return false;
    }
    texts_[index] = text;
    return true;
}

bool TMMInfoList::HasText() const {
    return std::any_of(texts_.begin(), texts_.end(),
                       [](const std::string& text) { return !text.empty(); });
}

void TMMInfoList::Clear() {
    for (auto& text : texts_) {
        text.clear();
    }
}

void TMMInfoList::Parse(const uint8_t* body, size_t size) {
    size_t offset = 0;
    while (size - offset >= 8) {
        const uint8_t* header = body + offset;
        const uint32_t length = ReadLE32(header + 4);
        if (length > size - offset - 8) {
            break;
        }
        const char* text = reinterpret_cast<const char*>(header + 8);
        const int index = IndexOf(ReadLE32(header));
        if (index >= 0) {
            texts_[index].assign(text, strnlen(text, length));
        }
        // The pad byte of the last entry may be missing; the loop condition copes with that.
        offset += 8 + static_cast<size_t>(length) + (length & 1);
        if (offset > size) {
            break;
        }
    }
}

std::vector<uint8_t> TMMInfoList::Serialize() const {
    std::vector<uint8_t> body;
    const auto& ids = InfoIds();
    for (int i = 0; i < kInfoIdCount; ++i) {
        const std::string& text = texts_[i];
        if (text.empty()) {
            continue;
        }
        // A text with an embedded zero ends there for every reader; store what they will see.
        const size_t visible = strnlen(text.c_str(), text.size());
        const uint32_t length = static_cast<uint32_t>(visible + 1);
        AppendLE32(body, ids[i].Id);
        AppendLE32(body, length);
        body.insert(body.end(), text.begin(), text.begin() + visible);
        body.push_back(0);
        if (length & 1) {
            body.push_back(0);
        }
    }
    return body;
}

bool ParseDispChunk(const uint8_t* body, size_t size, TMMDispChunk& chunk) {
    if (size < 4) {
        return false;
    }
    chunk.Type = ReadLE32(body);
    chunk.Data.assign(body + 4, body + size);
    return true;
}

bool IsWritableDisp(const TMMDispChunk& chunk) {
    return (chunk.Type == dtText || chunk.Type == dtBitmap) && !chunk.Data.empty();
}

std::vector<uint8_t> SerializeDispChunk(const TMMDispChunk& chunk) {
    const bool addZero = chunk.Type == dtText && !chunk.Data.empty() && chunk.Data.back() != 0;
    std::vector<uint8_t> body(4 + chunk.Data.size() + (addZero ? 1 : 0), 0);
    for (int i = 0; i < 4; ++i) {
        body[i] = static_cast<uint8_t>(chunk.Type >> (8 * i));
    }
    std::copy(chunk.Data.begin(), chunk.Data.end(), body.begin() + 4);
    return body;
}
