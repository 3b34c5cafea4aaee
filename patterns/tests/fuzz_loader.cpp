// Fuzz target for the pattern loader: any bytes as a file's content, loaded
// into a sequencer with some state of its own. Whatever the input, the load
// must end inside the ranges the window accepts, a load without failure
// must describe a pattern that saves back to what it loaded, and the block
// reader, fed the content in pieces, must load what the plain whole-line
// reader loads.

#include "patternfile.h"

#include "portbackend.h"
#include "portio.h"
#include "sequencer.h"
#include "wholelinereference.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

struct NullPort final : portio::PortBackend
{
    void out32(std::int16_t, std::int16_t) override {}
    std::int16_t inp32(std::int16_t) override { return 0; }
};

void require(bool condition)
{
    if (!condition)
        std::abort();
}

std::string state(const sequencer::Sequencer &seq)
{
    return patterns::patternLine(seq) + "|" + seq.firstActiveStepText() + "|" + seq.lastActiveStepText() + "|"
           + std::to_string(seq.tickIntervalMs());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static NullPort port;
    static portio::ScopedPortBackend scope(port);

    // The first byte picks the state before the load, the rest is the file.
    const std::uint8_t setup = size > 0 ? data[0] : 0;
    const std::string_view content(reinterpret_cast<const char *>(data) + (size > 0), size > 0 ? size - 1 : 0);

    const auto prepare = [setup](sequencer::Sequencer &s) {
        s.startUp();
        s.setFirstActiveStep(std::int16_t(1 + setup % 19));
        s.selectStepTime(std::int16_t(setup % 12 - 1));
        s.setCell(1 + setup % 8, setup % 20, std::int16_t(setup % 3));
    };
    sequencer::Sequencer seq, reference, pieces;
    prepare(seq);
    prepare(reference);
    prepare(pieces);

    const bool failed = patterns::loadPatternText(seq, content);

    require(reference::loadWholeLine(reference, content) == failed);
    require(state(reference) == state(seq));
    patterns::FirstLineReader reader;
    const std::size_t pieceSize = 1 + setup % 13;
    for (std::size_t at = 0; at < content.size() && reader.feed(content.substr(at, pieceSize)); at += pieceSize) {
    }
    require(patterns::applyFirstLine(pieces, reader.finish()) == failed);
    require(state(pieces) == state(seq));

    require(seq.firstActiveStep() >= 1 && seq.firstActiveStep() < seq.lastActiveStep()
            && seq.lastActiveStep() <= 20);
    require(seq.firstActiveStepText() == std::to_string(seq.firstActiveStep()));
    require(seq.lastActiveStepText() == std::to_string(seq.lastActiveStep()));
    require(seq.stepTimePosition() >= -1 && seq.stepTimePosition() <= 10);
    require(seq.tickIntervalMs() >= 45 && seq.tickIntervalMs() <= 500);
    for (int c = 1; c <= 8; ++c)
        for (int i = 0; i < 21; ++i)
            require(seq.cell(c, i) >= 0 && seq.cell(c, i) <= 2);

    if (!failed) {
        const std::string line = patterns::patternLine(seq);
        sequencer::Sequencer again;
        require(!patterns::loadPatternText(again, line + "\r\n"));
        require(patterns::patternLine(again) == line);
    }
    return 0;
}
