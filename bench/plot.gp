# ns per call per path, both float models, with the arithmetic floor.
#   gnuplot -e "data='plot.dat'; output='performance.svg'" plot.gp
set terminal svg size 1100,560 dynamic font "sans,11" background "white"
set output output
set title "strataMix: ns per call, unconnected (bars) and arithmetic floor (points)"
set ylabel "ns per call"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set xtics rotate by 60 right scale 0 font "sans,9"
set bmargin 11
set grid ytics
set key top left
set yrange [0:*]
plot data using 2:xtic(1) title "wide" lc rgb "#3b6ea5", \
     '' using 3 title "single" lc rgb "#e08a2c", \
     '' using ($0 - 0.15):4 with points pt 7 ps 0.6 lc rgb "#1b3552" title "wide floor", \
     '' using ($0 + 0.15):5 with points pt 7 ps 0.6 lc rgb "#8a4a0c" title "single floor"
