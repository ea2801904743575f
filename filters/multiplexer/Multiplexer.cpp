#include "Multiplexer.h"

#include "Factories.h"

#include <evcode.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <memory>
#include <string>

#include "Formats.h"
#include "base/Guids.h"
#include "SampleSink.h"
#include "media/PacketRecords.h"
#include "media/ProgramStreamWriter.h"

namespace korvane::filters {
namespace {

constexpr LONG kOutputBuffers = 3;
constexpr LONG kOutputBufferSize = 1 << 20;

class Multiplexer;

class MuxInput final : public InputPin {
public:
    MuxInput(Multiplexer* mux, std::wstring name);
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* mt) override;
    HRESULT CompleteConnect(IPin* peer) override;
    HRESULT OnReceive(IMediaSample* sample) override;
    HRESULT OnEndOfStream() override;

    int writerStream = -1;  // stream lock: the writer's index while streaming
    bool ended = false;     // stream lock

private:
    Multiplexer* m_mux;
};

class MuxOutput final : public OutputPin {
public:
    explicit MuxOutput(BaseFilter* filter)
        : OutputPin(filter, L"Output", kOutputBuffers, kOutputBufferSize) {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* mt) override {
        return IsEqualGUID(mt->majortype, MEDIATYPE_Stream) &&
                       IsEqualGUID(mt->subtype, MEDIASUBTYPE_MPEG2_PROGRAM)
                   ? S_OK
                   : S_FALSE;
    }
    HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mt) override {
        if (index != 0) return VFW_S_NO_MORE_ITEMS;
        return MakeMediaType(mt, MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_PROGRAM, FORMAT_None, nullptr, 0);
    }
};

// Streaming state (m_sink, m_writer, m_openInputs, m_finished) lives under the stream lock;
// every input pin's Receive and EndOfStream take it, so the writer sees one caller at a time.
class Multiplexer final : public BaseFilter {
public:
    Multiplexer() : BaseFilter(CLSID_KorvaneMultiplexer) {
        auto out = std::make_unique<MuxOutput>(this);
        m_output = out.get();
        AddPin(std::move(out));
        AddInput();
    }

    // State lock held (called from a pin's CompleteConnect).
    void EnsureFreeInput() {
        for (BasePin* pin : Pins())
            if (pin->Direction() == PINDIR_INPUT && !pin->IsConnected()) return;
        AddInput();
    }

    // State lock held: another connected input carrying the same stream?
    bool StreamTaken(const MuxInput* asking, const ListedStream& stream) {
        for (BasePin* pin : Pins()) {
            if (pin == asking || pin->Direction() != PINDIR_INPUT || !pin->IsConnected()) continue;
            const PacketStreamFormat* f = AsPacketStream(pin->ConnectedType());
            if (f && KeyOf(f->stream) == KeyOf(stream)) return true;
        }
        return false;
    }

    HRESULT Receive(MuxInput* pin, IMediaSample* sample) {
        if (m_finished) return S_FALSE;
        if (!m_writer || pin->writerStream < 0 || pin->ended) return VFW_E_WRONG_STATE;
        BYTE* data = nullptr;
        HRESULT hr = sample->GetPointer(&data);
        if (FAILED(hr)) return hr;
        const uint8_t* cursor = data;
        const uint8_t* end = data + sample->GetActualDataLength();
        media::ElementaryPacket packet;
        while (cursor < end) {
            if (!ReadPacketRecord(&cursor, end, &packet)) return Abort(VFW_E_INVALIDMEDIATYPE);
            if (!m_writer->WritePacket(pin->writerStream, packet)) return WriterFailed();
        }
        return S_OK;
    }

    HRESULT EndOfStream(MuxInput* pin) {
        if (m_finished || !m_writer || pin->writerStream < 0 || pin->ended) return S_OK;
        pin->ended = true;
        if (!m_writer->EndOfStream(pin->writerStream)) return WriterFailed();
        if (--m_openInputs == 0) return FinishStream();
        return S_OK;
    }

protected:
    HRESULT OnPause(bool fromStopped) override {
        if (!fromStopped) return S_OK;
        AutoLock stream(StreamLock());
        m_finished = false;
        m_endAfterEvents = false;
        m_openInputs = 0;
        m_sink = std::make_unique<SampleSink>(m_output);
        BaseFilter* receiver = m_output->PeerFilterOfOurs();
        m_sink->LendBuffers(receiver && receiver->ConsumesSamplesInReceive());
        m_writer = std::make_unique<media::ProgramStreamWriter>(*m_sink, WriterOptionsForUs());
        for (BasePin* pin : Pins()) {
            if (pin->Direction() != PINDIR_INPUT) continue;
            auto* input = static_cast<MuxInput*>(pin);
            input->writerStream = -1;
            input->ended = false;
            const PacketStreamFormat* f = pin->IsConnected() ? AsPacketStream(pin->ConnectedType()) : nullptr;
            if (!f) continue;
            media::WriterStreamConfig config;
            config.key = KeyOf(f->stream);
            config.kind = static_cast<media::StreamKind>(f->stream.kind);
            input->writerStream = m_writer->AddStream(config);
            if (input->writerStream < 0) return E_FAIL;
            ++m_openInputs;
        }
        // Nothing will ever arrive: end the output at once so the graph can complete.
        if (m_openInputs == 0 && m_output->IsConnected()) return FinishStream();
        return S_OK;
    }

    void OnStop() override {
        AutoLock stream(StreamLock());
        m_writer.reset();
        m_sink.reset();
    }

private:
    static media::WriterOptions WriterOptionsForUs() {
        media::WriterOptions options;
        options.outputChunkBytes = kOutputBufferSize;
        return options;
    }

    void AddInput() { AddPin(std::make_unique<MuxInput>(this, L"Input " + std::to_wstring(++m_inputsMade))); }

    HRESULT FinishStream() {
        m_finished = true;
        if (!m_writer->Finish() || !m_sink->Flush()) return WriterFailed();
        m_output->DeliverEndOfStream();
        return S_OK;
    }

    HRESULT WriterFailed() {
        // Downstream refusing more data (S_FALSE) or stopping is its business; anything
        // else is a failure of ours that the application must hear about.
        HRESULT sinkResult = m_sink->Result();
        if (sinkResult == S_FALSE || sinkResult == VFW_E_WRONG_STATE || sinkResult == VFW_E_NOT_COMMITTED) {
            m_finished = true;
            return S_FALSE;
        }
        return Abort(FAILED(sinkResult) ? sinkResult : E_FAIL);
    }

    // The output ends only after the error event has gone out (AfterStreamingCall), so the
    // event is queued before the renderer's EC_COMPLETE.
    HRESULT Abort(HRESULT hr) {
        QueueEvent(EC_ERRORABORT, hr, 0);
        if (!m_finished) {
            m_finished = true;
            m_endAfterEvents = true;
        }
        return S_FALSE;
    }

public:
    void AfterStreamingCall() override {
        AutoLock stream(StreamLock());
        if (!m_endAfterEvents) return;
        m_endAfterEvents = false;
        m_output->DeliverEndOfStream();
    }

private:
    MuxOutput* m_output;
    int m_inputsMade = 0;
    std::unique_ptr<SampleSink> m_sink;
    std::unique_ptr<media::ProgramStreamWriter> m_writer;
    int m_openInputs = 0;
    bool m_finished = false;        // the output has ended; further input is refused
    bool m_endAfterEvents = false;  // an error event is queued; end the output once it is sent
};

MuxInput::MuxInput(Multiplexer* mux, std::wstring name) : InputPin(mux, std::move(name)), m_mux(mux) {}

HRESULT MuxInput::CheckMediaType(const AM_MEDIA_TYPE* mt) {
    const PacketStreamFormat* f = AsPacketStream(mt);
    if (!f) return S_FALSE;
    // What a program stream can carry as an elementary stream; the demultiplexer lists such
    // streams last, so refusing one leaves the others joined.
    const uint8_t id = f->stream.streamId;
    if (id != media::kPrivateStream1 && !(id >= 0xC0 && id <= 0xEF)) return S_FALSE;
    AutoLock lock(m_filter->StateLock());
    return m_mux->StreamTaken(this, f->stream) ? S_FALSE : S_OK;
}

HRESULT MuxInput::CompleteConnect(IPin*) {
    m_mux->EnsureFreeInput();
    return S_OK;
}

HRESULT MuxInput::OnReceive(IMediaSample* sample) {
    return m_mux->Receive(this, sample);
}
HRESULT MuxInput::OnEndOfStream() {
    return m_mux->EndOfStream(this);
}

}  // namespace

HRESULT CreateMultiplexer(IUnknown* outer, REFIID iid, void** out) {
    return CreateFilter<Multiplexer>(outer, iid, out);
}

}  // namespace korvane::filters
