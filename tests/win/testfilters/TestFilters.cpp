// DirectShow filters that misbehave on purpose, for the engine's tests, on the filter pack's
// own filter and pin base. No samples flow between them, so their pins are plain BasePins
// without a transport, which Wine's File Source (Async.) can connect to as well.
#include "TestFilters.h"

#include "base/BaseFilter.h"
#include "TestFilterIds.h"

#include "win32/ClassIds.h"
#include "win32/ComObject.h"
#include "win32/Scoped.h"

#include <evcode.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <cstring>
#include <utility>
#include <vector>

using namespace korvane::filters;

DWORD ReadStandInSetting(const char* name) {
    DWORD value = 0, size = sizeof value;
    if (RegGetValueA(HKEY_CURRENT_USER, kStandInDumpKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return 0;
    return value;
}

namespace {

// Answers each Next with S_OK and null items, as many as the sound enumerator would give.
template <class Enum, class Item>
class NullEnumerator final : public ComObject<Enum>, private Counted<ObjectKind::Enumerator> {
public:
    explicit NullEnumerator(ULONG items) : m_left(items) {}
    STDMETHODIMP Next(ULONG count, Item** items, ULONG* fetched) override {
        ULONG n = 0;
        for (; n < count && m_left > 0; ++n, --m_left)
            items[n] = nullptr;
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG) override { return S_OK; }
    STDMETHODIMP Reset() override { return S_OK; }
    STDMETHODIMP Clone(Enum**) override { return E_NOTIMPL; }

private:
    ULONG m_left;
};

class TestFilter;

// A pin's behaviour is one letter. Inputs: '*' accepts every type, '-' none, '?' answers
// QueryAccept with S_FALSE and then connects, 'A' / 'B' accept only type A / B, 'x' cannot
// tell its direction (and accepts every type). Outputs: 'A' / 'B' offer type A / B, '0'
// offers nothing, 'L' offers A and lies about connecting, 'N' gives null types, 'E' offers A
// and refuses to connect while an enumerator of this DLL is still held.
class TestPin final : public BasePin {
public:
    TestPin(BaseFilter* filter, PIN_DIRECTION direction, std::wstring name, char code)
        : BasePin(filter, direction, std::move(name)), m_code(code) {}

    HRESULT CheckMediaType(const AM_MEDIA_TYPE* mt) override {
        if (m_code == '-' || (m_direction == PINDIR_OUTPUT && !Offered())) return S_FALSE;
        if (m_direction == PINDIR_OUTPUT) return mt->subtype == *Offered() ? S_OK : S_FALSE;
        if (m_code == 'A' || m_code == 'B')
            return mt->subtype == (m_code == 'A' ? kSubtypeA : kSubtypeB) ? S_OK : S_FALSE;
        return S_OK;
    }
    HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mt) override {
        if (index != 0 || !Offered()) return VFW_S_NO_MORE_ITEMS;
        return MakeMediaType(mt, MEDIATYPE_Stream, *Offered(), FORMAT_None, nullptr, 0);
    }
    HRESULT CompleteConnect(IPin* peer) override;

    STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) override {
        if (m_code == 'E' && LiveObjects(ObjectKind::Enumerator) != 0) return VFW_E_WRONG_STATE;
        return m_code == 'L' ? S_OK : BasePin::Connect(receivePin, mt);
    }
    STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override {
        return m_code == 'x' ? E_FAIL : BasePin::QueryDirection(direction);  // *direction stays as it was
    }
    // Reads what it is offered, as every real pin does: a null type is not checked for.
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override {
        m_lastOffered = mt->subtype;
        if (CheckMediaType(mt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
        return m_code == '?' ? S_FALSE : S_OK;
    }
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override {
        if (m_code != 'N') return BasePin::EnumMediaTypes(types);
        return HandOut(new NullEnumerator<IEnumMediaTypes, AM_MEDIA_TYPE>(1), IID_IEnumMediaTypes,
                       reinterpret_cast<void**>(types));
    }

    const char m_code;
    GUID m_lastOffered = {};

private:
    const GUID* Offered() const {
        if (m_direction != PINDIR_OUTPUT || m_code == '0') return nullptr;
        return m_code == 'B' ? &kSubtypeB : &kSubtypeA;
    }
};

class TestFilter : public BaseFilter {
public:
    TestFilter(const CLSID& classId, int kind) : BaseFilter(classId), m_kind(kind) {
        // Each kind's pins, a direction letter and a behaviour letter each (see TestPin). The
        // stand-in dump (kind 0) adds its own input.
        // clang-format off
        static const char* const kPins[] = {
            "", "", "", "i*oA", "i*oA", "i-oA", "i?oA", "i-i*oA", "o0",    // dump .. kNoTypesOutput
            "i*oAoB", "iA", "iB", "i*oA", "i*oA", "ixi*", "i*oL", "i*oA", "i*oN",  // .. kNullMediaType
            "i*oE"};                                                               // kTypesHeld
        // clang-format on
        for (const char* pin = kPins[kind]; *pin; pin += 2)
            AddTestPin(*pin == 'i' ? PINDIR_INPUT : PINDIR_OUTPUT, pin[1]);
        if (kind == kMuxLike || kind == kAcceptsOnlyA || kind == kAcceptsOnlyB) m_growing = kPins[kind][1];
    }

    // A multiplexer-like filter offers a new free input once all of its inputs are taken.
    void OnInputConnected() {
        if (!m_growing) return;
        for (BasePin* pin : Pins())
            if (pin->Direction() == PINDIR_INPUT && !pin->IsConnected()) return;
        AddTestPin(PINDIR_INPUT, m_growing);
    }

    // The first enumerator of a kNullPin filter gives null pins; later ones are sound, so the
    // graph manager can still remove the filter.
    STDMETHODIMP EnumPins(IEnumPins** pins) override {
        if (m_kind != kNullPin || std::exchange(m_enumeratedPins, true)) return BaseFilter::EnumPins(pins);
        using Enumerator = NullEnumerator<IEnumPins, IPin>;
        return HandOut(new Enumerator(static_cast<ULONG>(Pins().size())), IID_IEnumPins,
                       reinterpret_cast<void**>(pins));
    }
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
        if (graph && JoinFails()) return E_FAIL;
        return BaseFilter::JoinFilterGraph(graph, name);
    }

protected:
    // Wine's graph runs a stopped graph by pausing it first and only then looks at results.
    HRESULT OnPause(bool) override { return m_kind == kRunFails ? E_FAIL : S_OK; }
    HRESULT OnRun(REFERENCE_TIME) override { return m_kind == kRunFails ? E_FAIL : S_OK; }
    virtual bool JoinFails() const { return m_kind == kJoinFails; }

    // Pins are named after their place: In0, Out1, In2...
    void AddTestPin(PIN_DIRECTION direction, char code) {
        const std::wstring name =
            (direction == PINDIR_INPUT ? L"In" : L"Out") + std::to_wstring(Pins().size());
        AddPin(std::make_unique<TestPin>(this, direction, name, code));
    }

private:
    int m_kind;
    char m_growing = 0;  // the code of the inputs a growing filter adds
    bool m_enumeratedPins = false;
};

HRESULT TestPin::CompleteConnect(IPin*) {
    if (m_direction == PINDIR_INPUT) static_cast<TestFilter*>(m_filter)->OnInputConnected();
    return S_OK;
}

// The stand-in file dump: its behaviour comes from the settings under kStandInDumpKey.
class StandInDump final : public AlsoImplements<TestFilter, IFileSinkFilter, IAMFilterMiscFlags> {
public:
    StandInDump() : AlsoImplements(classids::kFileDump, 0) {
        AddTestPin(PINDIR_INPUT, ReadStandInSetting("refuseInput") ? '-' : '*');
    }
    ~StandInDump() override { AfterStop(); }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out || iid != IID_IFileSinkFilter || !m_noSink) return AlsoImplements::QueryInterface(iid, out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE*) override {
        if (m_nameFails) return E_ACCESSDENIED;
        if (!fileName) return E_POINTER;
        m_fileName = fileName;
        return S_OK;
    }
    // The engine never asks.
    STDMETHODIMP GetCurFile(LPOLESTR*, AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP_(ULONG) GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

protected:
    bool JoinFails() const override { return m_joinFails; }
    HRESULT OnRun(REFERENCE_TIME) override {
        if (m_writer) return S_OK;
        ResetEvent(m_stopWriting.Get());
        m_writer = ScopedHandle(CreateThread(nullptr, 0, WriterThread, this, 0, nullptr));
        return m_writer ? S_OK : E_FAIL;
    }
    // Also called by the destructor: the thread never outlives the filter.
    void AfterStop() override {
        if (!m_writer) return;
        SetEvent(m_stopWriting.Get());
        WaitForSingleObject(m_writer.Get(), INFINITE);
        m_writer.Reset();
    }

private:
    static DWORD WINAPI WriterThread(LPVOID self) {
        static_cast<StandInDump*>(self)->Write();
        return 0;
    }
    // A named event the test may have made; null when it has not.
    static ScopedHandle OpenTestEvent(const char* what) {
        return ScopedHandle(
            OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, StandInEventName(what).c_str()));
    }
    static void Set(const ScopedHandle& event) {
        if (event) SetEvent(event.Get());
    }

    // Stands in for a stream: the output grows chunk by chunk, then the graph hears the end.
    void Write() {
        const ScopedHandle step = OpenTestEvent("Step"), written = OpenTestEvent("Written"),
                           ended = OpenTestEvent("Ended");
        const HANDLE opened =
            CreateFileW(m_fileName.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ScopedHandle file(opened == INVALID_HANDLE_VALUE ? nullptr : opened);
        const std::vector<char> chunk(20000, 'K');
        for (DWORD i = 0; i < m_chunks; ++i) {
            if (m_stepped && step) {
                const HANDLE waits[] = {m_stopWriting.Get(), step.Get()};
                if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) break;
            } else if (WaitForSingleObject(m_stopWriting.Get(), m_intervalMs) != WAIT_TIMEOUT) {
                break;
            }
            DWORD done = 0;
            if (file) WriteFile(file.Get(), chunk.data(), static_cast<DWORD>(chunk.size()), &done, nullptr);
            Set(written);
        }
        file.Reset();
        if (WaitForSingleObject(m_stopWriting.Get(), 0) != WAIT_TIMEOUT) return;
        if (m_errorHr) NotifyEvent(EC_ERRORABORT, static_cast<LONG_PTR>(static_cast<HRESULT>(m_errorHr)), 0);
        if (m_stillPlaying) NotifyEvent(static_cast<long>(m_stillPlaying), static_cast<LONG_PTR>(E_FAIL), 0);
        NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
        Set(ended);
    }

    // The settings as they were when the dump was made.
    const DWORD m_noSink = ReadStandInSetting("noSink"), m_nameFails = ReadStandInSetting("nameFails"),
                m_joinFails = ReadStandInSetting("joinFails"), m_chunks = ReadStandInSetting("chunks"),
                m_intervalMs = ReadStandInSetting("intervalMs"), m_errorHr = ReadStandInSetting("errorHr"),
                m_stepped = ReadStandInSetting("stepped"),
                m_stillPlaying = ReadStandInSetting("stillPlaying");
    std::wstring m_fileName;
    ScopedHandle m_stopWriting{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    ScopedHandle m_writer;
};

}  // namespace

HRESULT CreateTestFilter(int kind, REFIID iid, void** out) {
    if (kind == kFailCreate || (kind == 0 && ReadStandInSetting("createFails"))) return E_OUTOFMEMORY;
    if (kind == 0) return HandOut(new StandInDump, iid, out);
    return HandOut(new TestFilter(TestFilterClass(static_cast<TestFilterKind>(kind)), kind), iid, out);
}
