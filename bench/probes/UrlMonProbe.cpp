// bench_urlmon_probe URL PIECE [nocache] [OUTFILE]: binds URL for a pulled IStream as the plain
// download does (asynchronous, async storage, pull data; "nocache" adds BINDF_NOWRITECACHE), reads
// it in PIECE-byte reads and discards the bytes, or writes each read to OUTFILE as a download to a
// file must. Prints the bytes, the reads and the seconds: Wine's URL-moniker cost alone, or the
// floor of a plain download to a file.
#include <windows.h>
#include <urlmon.h>

#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

class Reader final : public IBindStatusCallback {
public:
    Reader(ULONG piece, bool noCache, HANDLE out) : buffer_(piece), noCache_(noCache), out_(out) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IBindStatusCallback) {
            *object = static_cast<IBindStatusCallback*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP OnStartBinding(DWORD, IBinding*) override { return S_OK; }
    STDMETHODIMP GetPriority(LONG*) override { return S_OK; }
    STDMETHODIMP OnLowResource(DWORD) override { return S_OK; }
    STDMETHODIMP OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override { return S_OK; }
    STDMETHODIMP OnStopBinding(HRESULT hr, LPCWSTR) override {
        result = hr;
        done = true;
        return S_OK;
    }
    STDMETHODIMP GetBindInfo(DWORD* flags, BINDINFO*) override {
        *flags = BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_PULLDATA | (noCache_ ? static_cast<DWORD>(BINDF_NOWRITECACHE) : 0u);
        return S_OK;
    }
    STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM* medium) override {
        if (!medium || medium->tymed != TYMED_ISTREAM || !medium->pstm) return S_OK;
        for (;;) {
            ULONG got = 0;
            const HRESULT hr = medium->pstm->Read(buffer_.data(), static_cast<ULONG>(buffer_.size()), &got);
            bytes += got;
            if (got) ++reads;
            DWORD written = 0;
            if (got && out_ != INVALID_HANDLE_VALUE && !::WriteFile(out_, buffer_.data(), got, &written, nullptr))
                result = HRESULT_FROM_WIN32(::GetLastError());
            if (hr != S_OK || got == 0) return S_OK;
        }
    }
    STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

    unsigned long long bytes = 0, reads = 0;
    HRESULT result = E_PENDING;
    bool done = false;

private:
    std::vector<char> buffer_;
    bool noCache_;
    HANDLE out_;
};

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fputs("usage: bench_urlmon_probe URL PIECE [nocache] [OUTFILE]\n", stderr);
        return 2;
    }
    const ULONG piece = std::wcstoul(argv[2], nullptr, 10);
    if (piece == 0) return 2;
    ::CoInitialize(nullptr);
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    const bool noCache = argc > 3 && std::wcscmp(argv[3], L"nocache") == 0;
    const int outArg = noCache ? 4 : 3;
    const HANDLE out = argc > outArg ? ::CreateFileW(argv[outArg], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                     FILE_ATTRIBUTE_NORMAL, nullptr)
                                     : INVALID_HANDLE_VALUE;
    if (argc > outArg && out == INVALID_HANDLE_VALUE) return 1;
    Reader reader(piece, noCache, out);
    IMoniker* moniker = nullptr;
    IBindCtx* context = nullptr;
    IStream* stream = nullptr;
    HRESULT hr = ::CreateURLMonikerEx(nullptr, argv[1], &moniker, URL_MK_UNIFORM);
    if (SUCCEEDED(hr)) hr = ::CreateAsyncBindCtx(0, &reader, nullptr, &context);
    if (SUCCEEDED(hr)) hr = moniker->BindToStorage(context, nullptr, IID_IStream, reinterpret_cast<void**>(&stream));
    while (SUCCEEDED(hr) && !reader.done) {
        MSG message;
        if (::GetMessageW(&message, nullptr, 0, 0) <= 0) break;
        ::DispatchMessageW(&message);
    }
    ::QueryPerformanceCounter(&end);
    if (stream) stream->Release();
    if (context) context->Release();
    if (moniker) moniker->Release();
    if (out != INVALID_HANDLE_VALUE) ::CloseHandle(out);
    if (FAILED(hr) || FAILED(reader.result)) {
        std::fprintf(stderr, "binding failed 0x%08lX 0x%08lX\n", static_cast<unsigned long>(hr),
                     static_cast<unsigned long>(reader.result));
        return 1;
    }
    std::printf("bytes %llu reads %llu seconds %.3f\n", reader.bytes, reader.reads,
                static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
    ::CoUninitialize();
    return 0;
}
