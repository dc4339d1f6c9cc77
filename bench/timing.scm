; What every benchmark batch needs, loaded before the batch's own file:
; wall-clock seconds between two (gettimeofday) values, and one record a line
; (fields separated by spaces) on the batch's result port.

(define (seconds-between t0 t1)
  (+ (- (car t1) (car t0))
     (/ (- (cadr t1) (cadr t0)) 1000000.0)))

(define (write-record port fields)
  (let loop ((f fields))
    (unless (null? f)
      (display (car f) port)
      (display (if (null? (cdr f)) "\n" " ") port)
      (loop (cdr f)))))
