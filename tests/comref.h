// A COM reference a test owns: released when it goes out of scope; &ref fills it from a creating call.
#pragma once

template <class T> struct Ref
{
    T *p = nullptr;
    Ref() {}
    Ref(const Ref &) = delete;
    ~Ref() { if (p) p->Release(); }
    T **operator&() { return &p; }
    T *operator->() { return p; }
    operator T *() { return p; }
};
