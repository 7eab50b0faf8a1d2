# The Debian package of the Linux centre: filled in by cmake/debian (make deb).
