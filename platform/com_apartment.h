// COM for the lifetime of the object on the calling thread, in a
// single-threaded apartment, and given back when it goes: every
// successful CoInitialize (S_FALSE too) needs its CoUninitialize.
#pragma once
#include <objbase.h>

class ComApartment {
public:
    ComApartment() : result_(CoInitialize(nullptr)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    bool Ready() const { return SUCCEEDED(result_); }

private:
    HRESULT result_;
};
