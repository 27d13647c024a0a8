/* Message catalogues for the Windows build of GLib and GMime. Mailfold ships no translations of
 * those libraries (GLib is built with nls disabled), so every lookup answers with its own message:
 * the functions GLib links against exist and behave as in the "C" locale. */
#ifndef MAILFOLD_LIBINTL_H
#define MAILFOLD_LIBINTL_H

#include <locale.h>

/* The Windows C library has no message category; GLib asks for it (setlocale then answers
 * NULL, which GLib takes as "no locale set"). The value is the one gettext uses there. */
#ifndef LC_MESSAGES
#define LC_MESSAGES 1729
#endif

/* The result is the format string it was given, so that GCC checks the arguments of printf-like
 * calls over a translated format (GLib builds with -Werror=format-nonliteral). */
#if defined(__GNUC__)
#define MAILFOLD_FORMAT_ARG(n) __attribute__ ((__format_arg__ (n)))
#else
#define MAILFOLD_FORMAT_ARG(n)
#endif

#ifdef __cplusplus
extern "C" {
#endif

char *gettext (const char *msgid) MAILFOLD_FORMAT_ARG (1);
char *dgettext (const char *domain, const char *msgid) MAILFOLD_FORMAT_ARG (2);
char *dcgettext (const char *domain, const char *msgid, int category) MAILFOLD_FORMAT_ARG (2);
char *ngettext (const char *msgid, const char *msgid_plural, unsigned long n)
  MAILFOLD_FORMAT_ARG (1) MAILFOLD_FORMAT_ARG (2);
char *dngettext (const char *domain, const char *msgid, const char *msgid_plural, unsigned long n)
  MAILFOLD_FORMAT_ARG (2) MAILFOLD_FORMAT_ARG (3);
char *dcngettext (const char *domain, const char *msgid, const char *msgid_plural, unsigned long n, int category)
  MAILFOLD_FORMAT_ARG (2) MAILFOLD_FORMAT_ARG (3);
char *textdomain (const char *domain);
char *bindtextdomain (const char *domain, const char *dirname);
char *bind_textdomain_codeset (const char *domain, const char *codeset);

#ifdef __cplusplus
}
#endif

#endif
