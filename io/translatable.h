// Texts the application shows are marked where they are defined, so that
// the translation tools find them although this library has no Qt: the
// marker is Qt's own no-op, and the application translates the constant in
// the context named.
#pragma once

#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(context, text) text
#endif
