#include "media/ProgramStreamWriter.h"

namespace korvane::media {

struct ProgramStreamWriter::Stream {};

ProgramStreamWriter::ProgramStreamWriter(ByteSink& sink, const WriterOptions& options)
    : sink_(sink), options_(options) {}
ProgramStreamWriter::~ProgramStreamWriter() = default;
int ProgramStreamWriter::AddStream(const WriterStreamConfig&) { return -1; }
bool ProgramStreamWriter::WritePacket(int, const ElementaryPacket&) { return false; }
bool ProgramStreamWriter::EndOfStream(int) { return false; }
bool ProgramStreamWriter::Finish() { return false; }

}  // namespace korvane::media
