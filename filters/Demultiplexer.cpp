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
#include "Guids.h"
#include "PacketRecords.h"
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
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* mt) override {
        return AsStreamList(mt) ? S_OK : S_FALSE;
    }
    HRESULT CompleteConnect(IPin* peer) override;
    void BreakConnect() override;
    HRESULT OnReceive(IMediaSample* sample) override;
    HRESULT OnEndOfStream() override;
    void OnBeginFlush() override;
    void OnEndFlush() override;

private:
    Demultiplexer* demux_;
};

class DemuxOutput final : public OutputPin {
public:
    DemuxOutput(BaseFilter* filter, std::wstring name, const ListedStream& stream)
        : OutputPin(filter, std::move(name), kOutputBuffers, kOutputBufferSize), stream_(stream) {}

    HRESULT CheckMediaType(const AM_MEDIA_TYPE* mt) override {
        const PacketStreamFormat* f = AsPacketStream(mt);
        return f && KeyOf(f->stream) == KeyOf(stream_) ? S_OK : S_FALSE;
    }
    HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mt) override {
        if (index != 0)
            return VFW_S_NO_MORE_ITEMS;
        return MakePacketStreamType(mt, stream_);
    }

    const ListedStream& Stream() const { return stream_; }

    // Streaming state, under the filter's stream lock.
    IMediaSample* pending = nullptr;  // the sample being filled
    BYTE* buffer = nullptr;
    LONG used = 0;

private:
    ListedStream stream_;
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

// Streaming state (reader_, outputs' pending samples, ended_, counters) is written under the
// stream lock by the streaming thread that calls Receive.
class Demultiplexer final : public BaseFilter, private media::PacketHandler {
public:
    Demultiplexer() : BaseFilter(CLSID_KorvaneDemultiplexer) {
        AddPin(std::make_unique<DemuxInput>(this));
    }

    // State lock held: the source's stream list becomes our output pins.
    HRESULT MakeOutputs(const StreamListFormat& list, bool transportStream) {
        RemoveOutputs();
        transport_ = transportStream;
        for (uint32_t i = 0; i < list.streamCount; ++i)
            AddPin(std::make_unique<DemuxOutput>(this, PinName(list.streams[i]), list.streams[i]));
        return S_OK;
    }

    void RemoveOutputs() {
        for (BasePin* pin : Pins())
            if (pin->Direction() == PINDIR_OUTPUT)
                RetirePin(pin);
    }

    HRESULT Receive(IMediaSample* sample) {
        if (ended_)
            return S_FALSE;
        BYTE* data = nullptr;
        HRESULT hr = sample->GetPointer(&data);
        if (FAILED(hr))
            return hr;
        deliverResult_ = S_OK;
        const size_t size = static_cast<size_t>(sample->GetActualDataLength());
        borrowBegin_ = data;
        borrowEnd_ = data + size;
        bool ok = transport_ ? tsReader_.Feed(data, size, *this) : reader_.Feed(data, size, *this);
        if (ok && deliverResult_ == S_OK)
            DeliverPending();
        borrowBegin_ = borrowEnd_ = nullptr;  // the input sample goes back to the source
        if (!ok && ReaderStatus() == media::ReaderStatus::Encrypted)
            return Abort(KORVANE_E_ENCRYPTED);
        if (deliverResult_ != S_OK)
            return StopDelivering();
        return S_OK;
    }

    HRESULT EndOfStream() {
        if (ended_)
            return S_OK;
        deliverResult_ = S_OK;
        bool ok = transport_ ? tsReader_.Finish(*this) : reader_.Finish(*this);
        if (!ok && ReaderStatus() == media::ReaderStatus::Encrypted)
            return Abort(KORVANE_E_ENCRYPTED);
        if (deliverResult_ == S_OK)
            DeliverPending();
        EndOutputs();
        return S_OK;
    }

    void BeginFlush() {
        for (DemuxOutput* out : Outputs())
            if (out->IsConnected())
                out->DeliverBeginFlush();
    }

    void EndFlush() {
        DropPending();
        reader_.Reset();
        tsReader_.Reset();
        ended_ = false;
        for (DemuxOutput* out : Outputs())
            if (out->IsConnected())
                out->DeliverEndFlush();
    }

protected:
    HRESULT OnPause(bool fromStopped) override {
        if (fromStopped) {
            AutoLock stream(StreamLock());
            reader_.Reset();
            tsReader_.Reset();
            ended_ = false;
            endAfterEvents_ = false;
            unlistedPackets_ = 0;
            streaming_.clear();
            for (DemuxOutput* out : Outputs())
                if (out->IsConnected())
                    streaming_[KeyOf(out->Stream())] = out;
        }
        return S_OK;
    }

    void OnStop() override {
        AutoLock stream(StreamLock());
        DropPending();
        streaming_.clear();
    }

private:
    std::vector<DemuxOutput*> Outputs() {
        std::vector<DemuxOutput*> outs;
        for (BasePin* pin : Pins())
            if (pin->Direction() == PINDIR_OUTPUT)
                outs.push_back(static_cast<DemuxOutput*>(pin));
        return outs;
    }

    bool OnPacket(const media::PesPacket& packet) override {
        auto it = streaming_.find(packet.key);
        if (it == streaming_.end()) {
            // A stream the source did not list (it began after the probed start) or one
            // nobody connected: skipped, and counted.
            ++unlistedPackets_;
            return true;
        }
        DemuxOutput* out = it->second;
        // A transport stream's video PES can outgrow a sample (its payload is reassembled, so
        // it goes inline): it travels in pieces, the timestamps with the first.
        const size_t room = static_cast<size_t>(out->BufferSize()) - PaddedRecordSize(0);
        if (packet.payloadSize > room && !(packet.payload >= borrowBegin_ && packet.payload < borrowEnd_)) {
            media::PesPacket piece = packet;
            for (size_t done = 0; done < packet.payloadSize; done += piece.payloadSize) {
                piece.payload = packet.payload + done;
                piece.payloadSize = std::min(room, packet.payloadSize - done);
                if (done) piece.hasPts = piece.hasDts = false;
                if (!AddRecord(out, piece))
                    return false;
            }
            return true;
        }
        return AddRecord(out, packet);
    }

    bool AddRecord(DemuxOutput* out, const media::PesPacket& packet) {
        const bool borrowed =
            packet.payload >= borrowBegin_ && packet.payload + packet.payloadSize <= borrowEnd_;
        const size_t need = PaddedRecordSize(borrowed ? 0 : packet.payloadSize);
        if (out->pending && static_cast<size_t>(out->BufferSize() - out->used) < need) {
            if (!DeliverOne(out))
                return false;
        }
        if (!out->pending) {
            HRESULT hr = out->GetDeliveryBuffer(&out->pending);
            if (FAILED(hr)) {
                out->pending = nullptr;
                deliverResult_ = hr;
                return false;
            }
            hr = out->pending->GetPointer(&out->buffer);
            if (FAILED(hr) || !out->buffer) {
                out->pending->Release();
                out->pending = nullptr;
                deliverResult_ = FAILED(hr) ? hr : E_POINTER;
                return false;
            }
            out->used = 0;
            filling_.push_back(out);
        }
        size_t written = WritePacketRecord(packet, borrowBegin_, borrowEnd_, out->buffer + out->used,
                                           static_cast<size_t>(out->BufferSize() - out->used));
        if (written == 0) {
            ++oversizedPackets_;  // larger than a whole sample: cannot be a valid PES payload
            return true;
        }
        out->used += static_cast<LONG>(written);
        return true;
    }

    bool DeliverOne(DemuxOutput* out) {
        out->pending->SetActualDataLength(out->used);
        HRESULT hr = out->Deliver(out->pending);
        out->pending->Release();
        out->pending = nullptr;
        if (hr != S_OK) {
            deliverResult_ = hr;
            return false;
        }
        return true;
    }

    // Every stream's packets from one input sample go out together, the streams in the
    // order their first packets had in the input, so the multiplexer's writer meets them
    // close to the order of the file and rarely has to hold packets back.
    void DeliverPending() {
        std::vector<DemuxOutput*> filling;
        filling.swap(filling_);
        for (DemuxOutput* out : filling)
            if (out->pending && !DeliverOne(out))
                return;
    }

    void DropPending() {
        filling_.clear();
        for (DemuxOutput* out : Outputs()) {
            if (out->pending)
                out->pending->Release();
            out->pending = nullptr;
        }
    }

    void EndOutputs() {
        const uint64_t damage = transport_ ? tsReader_.Stats().damageEvents + tsReader_.Stats().continuityErrors
                                           : reader_.Stats().damageEvents;
        const uint64_t skipped = transport_ ? tsReader_.Stats().bytesSkipped : reader_.Stats().bytesSkipped;
        char text[200];
        wsprintfA(text, "KorvaneFilters: demultiplexer skipped %u damaged stretches (%u bytes), %u packets of unlisted streams\n",
                  static_cast<unsigned>(damage), static_cast<unsigned>(skipped),
                  static_cast<unsigned>(unlistedPackets_ + oversizedPackets_));
        OutputDebugStringA(text);
        ended_ = true;
        DropPending();
        for (auto& entry : streaming_)
            entry.second->DeliverEndOfStream();
    }

    HRESULT StopDelivering() {
        HRESULT hr = deliverResult_;
        if (hr == VFW_E_WRONG_STATE || hr == VFW_E_NOT_COMMITTED) {
            DropPending();  // stopping
            return hr;
        }
        if (FAILED(hr))
            return Abort(hr);
        EndOutputs();
        return S_FALSE;
    }

    // The outputs end only after the error event has gone out (AfterStreamingCall).
    HRESULT Abort(HRESULT hr) {
        QueueEvent(EC_ERRORABORT, hr, 0);
        ended_ = true;
        endAfterEvents_ = true;
        DropPending();
        return S_FALSE;
    }

public:
    void AfterStreamingCall() override {
        AutoLock stream(StreamLock());
        if (!endAfterEvents_)
            return;
        endAfterEvents_ = false;
        EndOutputs();
    }

private:

    media::ReaderStatus ReaderStatus() const { return transport_ ? tsReader_.Status() : reader_.Status(); }

    media::ProgramStreamReader reader_;
    media::TransportStreamReader tsReader_;
    bool transport_ = false;  // set while connecting, from the source's media type
    std::map<media::StreamKey, DemuxOutput*> streaming_;  // connected outputs while active
    std::vector<DemuxOutput*> filling_;  // outputs with a pending sample, by first packet
    HRESULT deliverResult_ = S_OK;
    // The input sample being read: packet payloads inside it travel by reference.
    const uint8_t* borrowBegin_ = nullptr;
    const uint8_t* borrowEnd_ = nullptr;
    bool ended_ = false;
    bool endAfterEvents_ = false;  // an error event is queued; end the outputs once it is sent
    uint64_t unlistedPackets_ = 0;
    uint64_t oversizedPackets_ = 0;
};

DemuxInput::DemuxInput(Demultiplexer* demux) : InputPin(demux, L"Input"), demux_(demux) {}

HRESULT DemuxInput::CompleteConnect(IPin*) {
    const StreamListFormat* list = AsStreamList(ConnectedType());
    return list ? demux_->MakeOutputs(*list, IsTransportStreamList(ConnectedType())) : VFW_E_TYPE_NOT_ACCEPTED;
}

void DemuxInput::BreakConnect() { demux_->RemoveOutputs(); }
HRESULT DemuxInput::OnReceive(IMediaSample* sample) { return demux_->Receive(sample); }
HRESULT DemuxInput::OnEndOfStream() { return demux_->EndOfStream(); }
void DemuxInput::OnBeginFlush() { demux_->BeginFlush(); }
void DemuxInput::OnEndFlush() { demux_->EndFlush(); }

}  // namespace

HRESULT CreateDemultiplexer(IUnknown* outer, REFIID iid, void** out) { return CreateFilter<Demultiplexer>(outer, iid, out); }

}  // namespace korvane::filters
