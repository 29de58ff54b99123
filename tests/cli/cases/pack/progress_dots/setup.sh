mkdir many && for i in $(seq 1 250); do printf "$i" > many/f$i; done
