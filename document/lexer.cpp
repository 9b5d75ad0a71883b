// document/lexer.cpp
