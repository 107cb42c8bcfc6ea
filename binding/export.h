// The one export macro: the plug-in is built with hidden visibility, and only
// the functions marked here are seen by the renderer, under plain C names.
#ifndef STRATAMIX_BINDING_EXPORT_H
#define STRATAMIX_BINDING_EXPORT_H

#if defined(_WIN32)
#define STRATAMIX_EXPORT __declspec(dllexport)
#else
#define STRATAMIX_EXPORT __attribute__((visibility("default")))
#endif

#endif  // STRATAMIX_BINDING_EXPORT_H
