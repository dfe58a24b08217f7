#include "settings/settingconvolver.h"

#include "settings/inifile.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <fstream>
#include <iterator>

namespace marlix {
namespace {

constexpr size_t NameBlockSize = 256;

class TReader {
public:
    explicit TReader(const std::vector<uint8_t>& bytes) : Bytes(bytes) {}

    size_t Remaining() const { return Bytes.size() - Pos; }

    bool Flag(bool& v)
    {
        if (Remaining() < 1)
            return false;
        v = Bytes[Pos++] != 0;
        return true;
    }
    bool Int32(int32_t& v)
    {
        uint64_t bits = 0;
        if (!Bits(4, bits))
            return false;
        v = static_cast<int32_t>(static_cast<uint32_t>(bits));
        return true;
    }
    bool Double(double& v)
    {
        uint64_t bits = 0;
        if (!Bits(8, bits))
            return false;
        v = std::bit_cast<double>(bits);
        return true;
    }
    bool Name(std::string& name)
    {
        if (Remaining() < NameBlockSize)
            return false;
        const auto* block = Bytes.data() + Pos;
        name.assign(block + 1, block + 1 + block[0]);
        Pos += NameBlockSize;
        return true;
    }

private:
    bool Bits(int count, uint64_t& v)
    {
        if (Remaining() < static_cast<size_t>(count))
            return false;
        for (int i = 0; i < count; ++i)
            v |= static_cast<uint64_t>(Bytes[Pos++]) << (8 * i);
        return true;
    }

    const std::vector<uint8_t>& Bytes;
    size_t Pos = 0;
};

void PutBits(std::vector<uint8_t>& out, uint64_t v, int count)
{
    for (int i = 0; i < count; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutInt32(std::vector<uint8_t>& out, int32_t v)
{
    PutBits(out, static_cast<uint32_t>(v), 4);
}

void PutName(std::vector<uint8_t>& out, const std::string& name)
{
    const size_t length = std::min(name.size(), TSettingConvolver::MaxNameLength);
    out.push_back(static_cast<uint8_t>(length));
    out.insert(out.end(), name.begin(), name.begin() + static_cast<std::ptrdiff_t>(length));
    out.resize(out.size() + NameBlockSize - 1 - length, 0);
}

// Reads the response part of an entry that announced one; false when reading must stop.
bool ReadResponse(TReader& in, TConvolverEntry& c)
{
    std::string name;
    int32_t length = 0, rate = 0;
    if (!in.Name(name) || !in.Int32(length) || !in.Int32(rate))
        return false;
    if (length < 0 || static_cast<size_t>(length) > in.Remaining() / 8)
        return false;
    if (length == 0)
        return true;
    std::vector<double> ir(static_cast<size_t>(length));
    for (double& x : ir) {
        in.Double(x);
        if (!std::isfinite(x))
            x = 0;
    }
    c.HasIR = true;
    c.IRName = std::move(name);
    c.IRLength = length;
    c.IRRate = rate;
    c.IR = std::move(ir);
    return true;
}

} // namespace

void TSettingConvolver::Clear()
{
    DryWet = 3;
    for (size_t i = 0; i < Conv.size(); ++i) {
        Conv[i] = TConvolverEntry{};
        Conv[i].InCh = static_cast<int32_t>(i);
        Conv[i].OutCh = static_cast<int32_t>(i);
    }
}

std::vector<uint8_t> TSettingConvolver::Serialize() const
{
    std::vector<uint8_t> out;
    PutInt32(out, DryWet);
    for (const TConvolverEntry& c : Conv) {
        const bool hasIR = c.HasIR && !c.IR.empty();
        out.push_back(hasIR ? 1 : 0);
        out.push_back(c.On ? 1 : 0);
        out.push_back(c.CutDS ? 1 : 0);
        out.push_back(c.NoDelay ? 1 : 0);
        PutInt32(out, c.InCh);
        PutInt32(out, c.OutCh);
        PutInt32(out, c.Level);
        if (!hasIR)
            continue;
        PutName(out, c.IRName);
        PutInt32(out, static_cast<int32_t>(c.IR.size()));
        PutInt32(out, c.IRRate);
        for (double x : c.IR)
            PutBits(out, std::bit_cast<uint64_t>(x), 8);
    }
    return out;
}

void TSettingConvolver::Deserialize(const std::vector<uint8_t>& bytes)
{
    Clear();
    TReader in(bytes);
    if (!in.Int32(DryWet))
        return;
    for (TConvolverEntry& c : Conv) {
        bool hasIR = false;
        if (!in.Flag(hasIR) || !in.Flag(c.On) || !in.Flag(c.CutDS) || !in.Flag(c.NoDelay) || !in.Int32(c.InCh) ||
            !in.Int32(c.OutCh) || !in.Int32(c.Level))
            return;
        if (hasIR && !ReadResponse(in, c))
            return;
    }
}

bool TSettingConvolver::Save(const std::string& fileName) const
{
    return WriteFileAtomic(fileName, Serialize());
}

void TSettingConvolver::Load(const std::string& fileName)
{
    Clear();
    std::vector<uint8_t> bytes;
    if (ReadFileBytes(fileName, bytes))
        Deserialize(bytes);
}

} // namespace marlix
