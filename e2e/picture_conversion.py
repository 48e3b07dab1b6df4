"""The one place where `make run PICTURES=DIR` turns a PNG into the BMP the
driver reads.

This is a hook: the picture converter (PNG to the smallest BMP the driver
accepts) is not part of this tree yet. Until it is wired here, a PNG picture
is refused with a message saying what to do instead.
"""


class ConversionUnavailable(Exception):
    """A PNG was given and no converter is wired in."""


def convert_png_to_bmp(png_path, bmp_path, host_build):
    """Writes `bmp_path` from `png_path` with the host build's converter; raises ConversionUnavailable."""
    del bmp_path, host_build  # used once the converter is wired in
    raise ConversionUnavailable("%s is a PNG and this build has no PNG converter yet: give notice<N>.bmp "
                                "(1, 4, 8 or 24 bits per pixel, uncompressed) instead" % png_path)
