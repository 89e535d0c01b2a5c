# loader
10 BORDER 0: PAPER 0: INK 7: CLS
20 PRINT AT 10,4;"\a\::Loading \{16}\{2}"
30 LOAD "game"CODE 32768: RANDOMIZE USR 32768
40 DEF FN a(x,y$)=VAL$ "x"+x+BIN 101+1.5e3: REM done \
 and more
