/* What a text converter for Vellora on Linux is built against: the
 * movable global memory that the converter interface passes its strings
 * and buffers in (one shared library, libvellora-memory, that the conduit
 * and every converter link, so both sides see the same blocks), and the
 * four entry points a converter exports. A converter is a shared object
 * loaded with dlopen; its file name goes into the registry under
 * HKEY_LOCAL_MACHINE\Software\Microsoft\Shared Tools\Text Converters\Import\MSWord6
 * or ...\MSWord8, value "Path". */
#ifndef VELLORA_CONVERTER_H
#define VELLORA_CONVERTER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VELLORA_EXPORT __attribute__((visibility("default")))

/* A movable global memory block: lock it to reach its bytes. */
typedef void* VelloraGlobal;

/* A new zero-filled block of `bytes` bytes, or NULL. */
VELLORA_EXPORT VelloraGlobal vellora_global_alloc(size_t bytes);
/* The block's bytes, valid until the matching unlock; NULL for no block. */
VELLORA_EXPORT void* vellora_global_lock(VelloraGlobal block);
/* Non-zero while the block is still locked after this unlock. */
VELLORA_EXPORT int vellora_global_unlock(VelloraGlobal block);
/* Frees the block; NULL on success, the block itself when it cannot be
 * freed (it is NULL or still locked). */
VELLORA_EXPORT VelloraGlobal vellora_global_free(VelloraGlobal block);
/* The block's size in bytes; 0 for no block. */
VELLORA_EXPORT size_t vellora_global_size(VelloraGlobal block);

/* The conduit's output callback: `byte_count` RTF bytes are in the shared
 * buffer; `percent` says how far the conversion has got. The converter
 * goes on when it returns 0 and stops with a failure otherwise. */
typedef int32_t (*VelloraConverterOutput)(int32_t byte_count, int32_t percent);

/* The entry points, by the names the conduit resolves. String arguments
 * are blocks holding NUL-terminated strings. A result of 0 from the
 * conversions means success. */
VELLORA_EXPORT int32_t InitConverter32(void* window, char* application);
/* 1 when the file named in `file` is in the converter's format. */
VELLORA_EXPORT int16_t IsFormatCorrect32(VelloraGlobal file, VelloraGlobal class_name);
/* Converts the file to RTF: fills `buffer` (its whole size at most) and
 * calls `output` with the byte count, piece after piece. */
VELLORA_EXPORT int16_t ForeignToRtf32(VelloraGlobal file, void* storage, VelloraGlobal buffer, VelloraGlobal class_name,
                                      VelloraGlobal subset, VelloraConverterOutput output);
VELLORA_EXPORT int16_t RtfToForeign32(VelloraGlobal file, void* storage, VelloraGlobal buffer, VelloraGlobal class_name,
                                      VelloraConverterOutput input);

#ifdef __cplusplus
}
#endif

#endif
