; What the benchmark batches share, loaded before the batch's own file:
; timing, records, and the timed calls' thunks (each answers the new layer's
; ID, or #f when the call failed).

(define (seconds-between t0 t1)
  (+ (- (car t1) (car t0))
     (/ (- (cadr t1) (cadr t0)) 1000000.0)))

; One record a line, fields separated by spaces.
(define (write-record port fields)
  (let loop ((f fields))
    (unless (null? f)
      (display (car f) port)
      (display (if (null? (cdr f)) "\n" " ") port)
      (loop (cdr f)))))

; Dropping undo steps keeps removed layers from piling up in memory; the
; timed calls still run with undo enabled, as a user's would.
(define (forget-undo img)
  (gimp-image-undo-disable img)
  (gimp-image-undo-enable img))

(define (first-or-false result) (if (pair? result) (car result) #f))

; PROC is plug-in-tessaform or a plug-in taking the same arguments.
(define (plugin-thunk proc img layer src dst interp aa)
  (lambda ()
    (first-or-false
     (catch #f
       (apply proc (append (list RUN-NONINTERACTIVE img layer "bench")
                           src dst (list interp 0 aa)))))))

; GIMP's perspective transform of a copy of the layer, made before the clock
; starts. GIMP takes the corners as upper left, upper right, lower left,
; lower right.
(define (perspective-thunk img layer d interp)
  (let ((copy (car (gimp-layer-copy layer FALSE))))
    (gimp-image-insert-layer img copy 0 -1)
    (gimp-context-set-interpolation interp)
    (lambda ()
      (first-or-false
       (catch #f
         (gimp-item-transform-perspective
          copy (list-ref d 0) (list-ref d 1) (list-ref d 2) (list-ref d 3)
          (list-ref d 6) (list-ref d 7) (list-ref d 4) (list-ref d 5)))))))
