# add_library(simconnect_substitute STATIC ...) with PUBLIC include dir standin/include
