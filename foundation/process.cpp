// foundation/process.cpp
