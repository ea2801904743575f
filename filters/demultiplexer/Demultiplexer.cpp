#include "Demultiplexer.h"

#include "Factories.h"

#include <evcode.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>

#include "Formats.h"
#include "base/Guids.h"
#include "media/PacketRecords.h"
#include "media/ProgramStreamReader.h"
#include "media/TransportStreamReader.h"

namespace korvane::filters {
namespace {

// One output sample per stream per input sample. Records are small (payloads stay in the
// input sample); a buffer holds at least one inline payload of the largest PES packet.
constexpr LONG kOutputBuffers = 3;
constexpr LONG kOutputBufferSize = 256 << 10;

class Demultiplexer;

class DemuxInput final : public InputPin {
public:
    explicit DemuxInput(Demultiplexer* demux);
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* mt) override { return AsStreamList(mt) ? S_OK : S_FALSE; }
    HRESULT CompleteConnect(IPin* peer) override;
    void BreakConnect() override;
    HRESULT OnReceive(IMediaSample* sample) override;
    HRESULT OnEndOfStream() override;
    void OnBeginFlush() override;
    void OnEndFlush() override;

private:
    Demultiplexer* m_demux;
};

class DemuxOutput final : public OutputPin {
public:
    DemuxOutput(BaseFilter* filter, std::wstring name, const ListedStream& stream)
        : OutputPin(filter, std::move(name), kOutputBuffers, kOutputBufferSize), m_stream(stream) {}

    HRESULT CheckMediaType(const AM_MEDIA_TYPE* mt) override {
        const PacketStreamFormat* f = AsPacketStream(mt);
        return f && KeyOf(f->stream) == KeyOf(m_stream) ? S_OK : S_FALSE;
    }
    HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mt) override {
        if (index != 0) return VFW_S_NO_MORE_ITEMS;
        return MakePacketStreamType(mt, m_stream);
    }

    const ListedStream& Stream() const { return m_stream; }

    // Streaming state, under the filter's stream lock.
    ComPtr<IMediaSample> pending;  // the sample being filled
    BYTE* buffer = nullptr;
    LONG used = 0;

private:
    ListedStream m_stream;
};

std::wstring PinName(const ListedStream& s) {
    wchar_t text[32];
    switch (static_cast<media::StreamKind>(s.kind)) {
    case media::StreamKind::Video:
        wsprintfW(text, L"Video %02X", s.streamId);
        break;
    case media::StreamKind::MpegAudio:
        wsprintfW(text, L"Audio %02X", s.streamId);
        break;
    case media::StreamKind::Ac3:
        wsprintfW(text, L"AC-3 %02X.%02X", s.streamId, s.substreamId);
        break;
    default:
        wsprintfW(text, L"Stream %02X.%02X", s.streamId, s.substreamId);
        break;
    }
    return text;
}

// Streaming state (m_reader, outputs' pending samples, m_ended, counters) is written under the
// stream lock by the streaming thread that calls Receive.
class Demultiplexer final : public BaseFilter, private media::PacketHandler {
public:
    Demultiplexer() : BaseFilter(CLSID_KorvaneDemultiplexer) { AddPin(std::make_unique<DemuxInput>(this)); }

    // State lock held: the source's stream list becomes our output pins.
    HRESULT MakeOutputs(const StreamListFormat& list, bool transportStream) {
        RemoveOutputs();
        m_transport = transportStream;
        for (uint32_t i = 0; i < list.streamCount; ++i)
            AddPin(std::make_unique<DemuxOutput>(this, PinName(list.streams[i]), list.streams[i]));
        return S_OK;
    }

    void RemoveOutputs() {
        for (BasePin* pin : Pins())
            if (pin->Direction() == PINDIR_OUTPUT) RetirePin(pin);
    }

    HRESULT Receive(IMediaSample* sample) {
        if (m_ended) return S_FALSE;
        BYTE* data = nullptr;
        HRESULT hr = sample->GetPointer(&data);
        if (FAILED(hr)) return hr;
        m_deliverResult = S_OK;
        const size_t size = static_cast<size_t>(sample->GetActualDataLength());
        m_borrowBegin = data;
        m_borrowEnd = data + size;
        bool ok = m_transport ? m_tsReader.Feed(data, size, *this) : m_reader.Feed(data, size, *this);
        if (ok && m_deliverResult == S_OK) DeliverPending();
        m_borrowBegin = m_borrowEnd = nullptr;  // the input sample goes back to the source
        if (!ok && ReaderStatus() == media::ReaderStatus::Encrypted) return Abort(KORVANE_E_ENCRYPTED);
        if (m_deliverResult != S_OK) return StopDelivering();
        return S_OK;
    }

    HRESULT EndOfStream() {
        if (m_ended) return S_OK;
        m_deliverResult = S_OK;
        bool ok = m_transport ? m_tsReader.Finish(*this) : m_reader.Finish(*this);
        if (!ok && ReaderStatus() == media::ReaderStatus::Encrypted) return Abort(KORVANE_E_ENCRYPTED);
        if (m_deliverResult == S_OK) DeliverPending();
        EndOutputs();
        return S_OK;
    }

    void BeginFlush() {
        for (DemuxOutput* out : Outputs())
            if (out->IsConnected()) out->DeliverBeginFlush();
    }

    void EndFlush() {
        DropPending();
        m_reader.Reset();
        m_tsReader.Reset();
        m_ended = false;
        for (DemuxOutput* out : Outputs())
            if (out->IsConnected()) out->DeliverEndFlush();
    }

protected:
    HRESULT OnPause(bool fromStopped) override {
        if (fromStopped) {
            AutoLock stream(StreamLock());
            m_reader.Reset();
            m_tsReader.Reset();
            m_ended = false;
            m_endAfterEvents = false;
            m_unlistedPackets = 0;
            m_streaming.clear();
            for (DemuxOutput* out : Outputs())
                if (out->IsConnected()) m_streaming[KeyOf(out->Stream())] = out;
        }
        return S_OK;
    }

    void OnStop() override {
        AutoLock stream(StreamLock());
        DropPending();
        m_streaming.clear();
    }

private:
    std::vector<DemuxOutput*> Outputs() {
        std::vector<DemuxOutput*> outs;
        for (BasePin* pin : Pins())
            if (pin->Direction() == PINDIR_OUTPUT) outs.push_back(static_cast<DemuxOutput*>(pin));
        return outs;
    }

    bool OnPacket(const media::PesPacket& packet) override {
        auto it = m_streaming.find(packet.key);
        if (it == m_streaming.end()) {
            // A stream the source did not list (it began after the probed start) or one
            // nobody connected: skipped, and counted.
            ++m_unlistedPackets;
            return true;
        }
        DemuxOutput* out = it->second;
        // A transport stream's video PES can outgrow a sample (its payload is reassembled, so
        // it goes inline): it travels in pieces, the timestamps with the first.
        const size_t room = static_cast<size_t>(out->BufferSize()) - PaddedRecordSize(0);
        if (packet.payloadSize > room && !(packet.payload >= m_borrowBegin && packet.payload < m_borrowEnd)) {
            media::PesPacket piece = packet;
            for (size_t done = 0; done < packet.payloadSize; done += piece.payloadSize) {
                piece.payload = packet.payload + done;
                piece.payloadSize = std::min(room, packet.payloadSize - done);
                if (done) piece.hasPts = piece.hasDts = false;
                if (!AddRecord(out, piece)) return false;
            }
            return true;
        }
        return AddRecord(out, packet);
    }

    bool AddRecord(DemuxOutput* out, const media::PesPacket& packet) {
        const bool borrowed =
            packet.payload >= m_borrowBegin && packet.payload + packet.payloadSize <= m_borrowEnd;
        const size_t need = PaddedRecordSize(borrowed ? 0 : packet.payloadSize);
        if (out->pending && static_cast<size_t>(out->BufferSize() - out->used) < need) {
            if (!DeliverOne(out)) return false;
        }
        if (!out->pending) {
            HRESULT hr = out->GetDeliveryBuffer(out->pending.Out());
            if (FAILED(hr)) {
                out->pending.Reset();
                m_deliverResult = hr;
                return false;
            }
            hr = out->pending->GetPointer(&out->buffer);
            if (FAILED(hr) || !out->buffer) {
                out->pending.Reset();
                m_deliverResult = FAILED(hr) ? hr : E_POINTER;
                return false;
            }
            out->used = 0;
            m_filling.push_back(out);
        }
        size_t written = WritePacketRecord(packet, m_borrowBegin, m_borrowEnd, out->buffer + out->used,
                                           static_cast<size_t>(out->BufferSize() - out->used));
        if (written == 0) {
            ++m_oversizedPackets;  // larger than a whole sample: cannot be a valid PES payload
            return true;
        }
        out->used += static_cast<LONG>(written);
        return true;
    }

    bool DeliverOne(DemuxOutput* out) {
        out->pending->SetActualDataLength(out->used);
        HRESULT hr = out->Deliver(out->pending.Get());
        out->pending.Reset();
        if (hr != S_OK) {
            m_deliverResult = hr;
            return false;
        }
        return true;
    }

    // Every stream's packets from one input sample go out together, the streams in the
    // order their first packets had in the input, so the multiplexer's writer meets them
    // close to the order of the file and rarely has to hold packets back.
    void DeliverPending() {
        std::vector<DemuxOutput*> filling;
        filling.swap(m_filling);
        for (DemuxOutput* out : filling)
            if (out->pending && !DeliverOne(out)) return;
    }

    void DropPending() {
        m_filling.clear();
        for (DemuxOutput* out : Outputs()) {
            out->pending.Reset();
        }
    }

    void EndOutputs() {
        const uint64_t damage = m_transport
                                    ? m_tsReader.Stats().damageEvents + m_tsReader.Stats().continuityErrors
                                    : m_reader.Stats().damageEvents;
        const uint64_t skipped =
            m_transport ? m_tsReader.Stats().bytesSkipped : m_reader.Stats().bytesSkipped;
        char text[200];
        wsprintfA(text,
                  "KorvaneFilters: demultiplexer skipped %u damaged stretches (%u bytes), %u packets of "
                  "unlisted streams\n",
                  static_cast<unsigned>(damage), static_cast<unsigned>(skipped),
                  static_cast<unsigned>(m_unlistedPackets + m_oversizedPackets));
        OutputDebugStringA(text);
        m_ended = true;
        DropPending();
        for (auto& entry : m_streaming)
            entry.second->DeliverEndOfStream();
    }

    HRESULT StopDelivering() {
        HRESULT hr = m_deliverResult;
        if (hr == VFW_E_WRONG_STATE || hr == VFW_E_NOT_COMMITTED) {
            DropPending();  // stopping
            return hr;
        }
        if (FAILED(hr)) return Abort(hr);
        EndOutputs();
        return S_FALSE;
    }

    // The outputs end only after the error event has gone out (AfterStreamingCall).
    HRESULT Abort(HRESULT hr) {
        QueueEvent(EC_ERRORABORT, hr, 0);
        m_ended = true;
        m_endAfterEvents = true;
        DropPending();
        return S_FALSE;
    }

public:
    void AfterStreamingCall() override {
        AutoLock stream(StreamLock());
        if (!m_endAfterEvents) return;
        m_endAfterEvents = false;
        EndOutputs();
    }

private:
    media::ReaderStatus ReaderStatus() const { return m_transport ? m_tsReader.Status() : m_reader.Status(); }

    media::ProgramStreamReader m_reader;
    media::TransportStreamReader m_tsReader;
    bool m_transport = false;  // set while connecting, from the source's media type
    std::map<media::StreamKey, DemuxOutput*> m_streaming;  // connected outputs while active
    std::vector<DemuxOutput*> m_filling;                   // outputs with a pending sample, by first packet
    HRESULT m_deliverResult = S_OK;
    // The input sample being read: packet payloads inside it travel by reference.
    const uint8_t* m_borrowBegin = nullptr;
    const uint8_t* m_borrowEnd = nullptr;
    bool m_ended = false;
    bool m_endAfterEvents = false;  // an error event is queued; end the outputs once it is sent
    uint64_t m_unlistedPackets = 0;
    uint64_t m_oversizedPackets = 0;
};

DemuxInput::DemuxInput(Demultiplexer* demux) : InputPin(demux, L"Input"), m_demux(demux) {}

HRESULT DemuxInput::CompleteConnect(IPin*) {
    const StreamListFormat* list = AsStreamList(ConnectedType());
    return list ? m_demux->MakeOutputs(*list, IsTransportStreamList(ConnectedType()))
                : VFW_E_TYPE_NOT_ACCEPTED;
}

void DemuxInput::BreakConnect() {
    m_demux->RemoveOutputs();
}
HRESULT DemuxInput::OnReceive(IMediaSample* sample) {
    return m_demux->Receive(sample);
}
HRESULT DemuxInput::OnEndOfStream() {
    return m_demux->EndOfStream();
}
void DemuxInput::OnBeginFlush() {
    m_demux->BeginFlush();
}
void DemuxInput::OnEndFlush() {
    m_demux->EndFlush();
}

}  // namespace

HRESULT CreateDemultiplexer(IUnknown* outer, REFIID iid, void** out) {
    return CreateFilter<Demultiplexer>(outer, iid, out);
}

}  // namespace korvane::filters
