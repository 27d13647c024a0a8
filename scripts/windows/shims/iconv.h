/* The iconv interface of win_iconv (GLib's glib/win_iconv.c, built as iconv.dll for GMime): the
 * conversions go through the Windows code pages and MLang. */
#ifndef MAILFOLD_ICONV_H
#define MAILFOLD_ICONV_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void *iconv_t;
iconv_t iconv_open (const char *tocode, const char *fromcode);
int iconv_close (iconv_t cd);
size_t iconv (iconv_t cd, char **inbuf, size_t *inbytesleft, char **outbuf, size_t *outbytesleft);

#ifdef __cplusplus
}
#endif

#endif
