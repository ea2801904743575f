// IAsyncReader over a recording's MPEG payload: how other programs' parsers (Wine's GStreamer
// splitter, Windows' MPEG-2 demultiplexer, a player's splitter) pull the payload from our
// source as they would from a file source. Byte offset 0 is the payload's first byte; reads go
// to a media::ByteSource (the payload of a clear file as it is, or media's PayloadView of an
// encrypted one).
//
// Asynchronous requests are read when they are made and wait, done, for WaitForNext: the
// reads are from a local file and cheap, and done in request order there is no ordering to
// get wrong. Like the system's own file source, a request holds no reference to its sample:
// the caller's reference travels with it and comes back from WaitForNext.
//
// It is an interface of the source's output pin, not an object of its own: its IUnknown is
// the pin's. (It cannot simply be one more base of the pin: IPin and IAsyncReader both have
// a BeginFlush and an EndFlush, which mean different things.)
#pragma once

#include <windows.h>
#include <strmif.h>

#include <cstdint>
#include <deque>
#include <memory>

#include "base/Sync.h"
#include "media/Io.h"

namespace korvane::filters {

class PayloadReader final : public IAsyncReader {
public:
    // owner: the pin whose interface this is; payload: what the reads return (its Size() is
    // the length the reader reports).
    PayloadReader(IUnknown* owner, std::unique_ptr<media::ByteSource> payload);
    ~PayloadReader();
    PayloadReader(const PayloadReader&) = delete;
    PayloadReader& operator=(const PayloadReader&) = delete;

    // IUnknown: the owner's.
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IAsyncReader
    STDMETHODIMP RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* properties,
                                  IMemAllocator** actual) override;
    STDMETHODIMP Request(IMediaSample* sample, DWORD_PTR user) override;
    STDMETHODIMP WaitForNext(DWORD milliseconds, IMediaSample** sample, DWORD_PTR* user) override;
    STDMETHODIMP SyncReadAligned(IMediaSample* sample) override;
    STDMETHODIMP SyncRead(LONGLONG position, LONG length, BYTE* buffer) override;
    STDMETHODIMP Length(LONGLONG* total, LONGLONG* available) override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;

private:
    struct Done {
        IMediaSample* sample;
        DWORD_PTR user;
        HRESULT result;
    };

    // Reads into the sample the byte range its times name; S_FALSE when the payload ends first.
    HRESULT ReadSample(IMediaSample* sample);
    HRESULT ReadAt(LONGLONG position, LONG length, BYTE* buffer, LONG* got);

    IUnknown* m_owner;
    std::unique_ptr<media::ByteSource> m_payload;
    CriticalSection m_readLock;  // one read at a time: the payload is not internally locked
    SRWLOCK m_queueLock = SRWLOCK_INIT;
    CONDITION_VARIABLE m_queueChanged = CONDITION_VARIABLE_INIT;
    std::deque<Done> m_done;  // guarded by m_queueLock
    bool m_flushing = false;  // guarded by m_queueLock
};

}  // namespace korvane::filters
