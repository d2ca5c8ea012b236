# target_sources(velmar_core PRIVATE ...) for src/aircraft
