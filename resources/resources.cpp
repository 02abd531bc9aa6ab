// The artwork itself is compiled in by qt_add_resources; this unit only anchors the library.
