/* The charset names GMime asks win_iconv for (what GMime's iconv-detect program would find if it
 * could run on the build machine). */
#define ICONV_ISO_INT_FORMAT "iso-%u-%u"
#define ICONV_ISO_STR_FORMAT "iso-%u-%s"
#define ICONV_SHIFT_JIS "shift_jis"
#define ICONV_10646 "UCS-4BE"
